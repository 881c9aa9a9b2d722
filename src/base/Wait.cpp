#include "base/Wait.h"

#include <algorithm>
#include <cerrno>
#include <poll.h>

namespace Wait {

namespace {

    class Polling final : public Waiter {
    public:
        // No signal handler is ever installed here, so poll() is never interrupted.
        bool wait(int fd, short events, Deadline deadline) override
        {
            pollfd watched { fd, events, {} };
            return ::poll(&watched, 1, remainingMs(deadline)) > 0;
        }
    };

} // namespace

std::string inSeconds(int milliseconds)
{
    std::string text = std::to_string(milliseconds / 1000);
    if (const int rest = milliseconds % 1000) {
        text += '.' + std::to_string(1000 + rest).substr(1);
        text.erase(text.find_last_not_of('0') + 1);
    }
    return text + " s";
}

Deadline after(long long milliseconds) { return Clock::now() + std::chrono::milliseconds(milliseconds); }

int remainingMs(Deadline deadline)
{
    if (deadline == kForever)
        return -1;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return static_cast<int>(std::clamp<long long>(left, 0, 1 << 30));
}

Waiter &polling()
{
    static Polling waiter;
    return waiter;
}

} // namespace Wait
