#pragma once

#include <chrono>
#include <string>

// Waiting for a descriptor, the way the caller can afford: the unattended run
// sleeps in poll(); the window runs its event loop meanwhile. The rules (a
// connect, a look-up, an FTP reply, an echo) own the descriptor; the caller's
// Waiter owns the wait.
namespace Wait {

using Clock = std::chrono::steady_clock;
using Deadline = Clock::time_point;

Deadline after(long long milliseconds);
inline constexpr Deadline kForever = Deadline::max();
// Milliseconds left, 0 once the deadline has passed; -1 for kForever.
int remainingMs(Deadline deadline);
// A bound as people read it: "15 s", "0.5 s".
std::string inSeconds(int milliseconds);

class Waiter {
public:
    virtual ~Waiter() = default;
    // True once `fd` is ready for `events` (POLLIN, POLLOUT); false when the
    // deadline passed first or the waits were abandoned.
    virtual bool wait(int fd, short events, Deadline deadline) = 0;
    // The program is going away: every wait ends at once, and nothing more is started.
    virtual bool abandoned() const { return false; }
};

// poll(2), for a run that has nothing else to do meanwhile.
Waiter &polling();

} // namespace Wait
