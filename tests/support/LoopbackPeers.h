#pragma once

#include <cstdint>
#include <string>
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
    // Accepts one pending connection within the time given; -1 when none came.
    int accept(int timeoutMs);

private:
    LoopbackPort(const std::string &address, uint16_t port, int backlog);

    int m_fd = -1;
    uint16_t m_port = 0;
    std::vector<int> m_held; // accepted or queue-filling sockets, closed with the port
};
