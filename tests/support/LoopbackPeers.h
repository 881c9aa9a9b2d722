#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// A loopback address of its own for each call (127.x.y.z, never 127.0.0.1), for servers on a fixed
// port such as 21 or 53 that must not meet each other or the machine's own services.
std::string privateLoopbackAddress();

// A TCP end on loopback ("::1" for IPv6) on a free port unless told. An open one accepts (the system
// completes connections even when nobody reads); a refused one is bound but not listening; a
// blackholed one has backlog 0 and a full queue: attempts get no answer, as behind a dropping firewall.
class LoopbackPort {
public:
    static LoopbackPort open(const std::string &address = "127.0.0.1", uint16_t port = 0);
    static LoopbackPort refused(const std::string &address = "127.0.0.1");
    static LoopbackPort blackholed(const std::string &address = "127.0.0.1");

    LoopbackPort(LoopbackPort &&other) noexcept;
    LoopbackPort &operator=(LoopbackPort &&) = delete;
    ~LoopbackPort();

    uint16_t port() const { return m_port; }
    // A blackholed port starts answering: waiting attempts are taken at their next SYN, all at once.
    void answer();
    // Accepts one pending connection within the time given; -1 when none came.
    int accept(int timeoutMs);

private:
    LoopbackPort(const std::string &address, uint16_t port, int backlog);

    int m_fd = -1;
    uint16_t m_port = 0;
    std::vector<int> m_held; // accepted or queue-filling sockets, closed with the port
};

// True when the peer of a connected socket has closed its end within the time given.
bool peerClosed(int fd, int timeoutMs);

// Plays a fixed dialogue from its own thread: to the first connection it sends the greeting, then
// answers each line it receives with the next reply, recording the lines.
class ScriptedPeer {
public:
    ScriptedPeer(const std::string &greeting, const std::vector<std::string> &replies,
        const std::string &address = "127.0.0.1", uint16_t port = 0);
    ~ScriptedPeer();

    uint16_t port() const { return m_listener.port(); }
    // The lines received, without line ends, once the client has closed or the time has passed.
    std::vector<std::string> received(int timeoutMs);

private:
    LoopbackPort m_listener;
    std::vector<std::string> m_received;
    bool m_closed = false;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::atomic<bool> m_stop { false };
    std::thread m_thread;
};
