#pragma once

#include <cstdint>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

// A loopback address of its own for each call (127.x.y.z, never 127.0.0.1), for servers on a fixed
// port such as 21 or 53 that must not meet each other or the machine's own services.
inline std::string privateLoopbackAddress()
{
    static int calls = 0;
    const int pid = static_cast<int>(::getpid());
    return "127." + std::to_string(1 + pid / 250 % 250) + '.' + std::to_string(1 + pid % 250) + '.'
        + std::to_string(1 + ++calls % 250);
}

// A TCP end on loopback ("::1" for IPv6), on a free port unless told: open (the system completes connections), refused
// (bound, not listening) or blackholed (backlog 0, queue full: no answer, as behind a dropping firewall).
class LoopbackPort {
public:
    static LoopbackPort open(const std::string &address = "127.0.0.1", uint16_t port = 0)
    {
        return { address, port, 16 };
    }
    static LoopbackPort refused(const std::string &address = "127.0.0.1") { return { address, 0, -1 }; }
    static LoopbackPort blackholed(const std::string &address = "127.0.0.1") { return { address, 0, 0 }; }

    LoopbackPort(const LoopbackPort &) = delete; // one owner closes its sockets
    ~LoopbackPort()
    {
        for (const int fd : m_held)
            ::close(fd);
        if (m_fd >= 0)
            ::close(m_fd);
    }

    uint16_t port() const { return m_port; }
    // Accepts one pending connection within the time given; -1 when none came.
    int accept(int timeoutMs)
    {
        pollfd waiting { m_fd, POLLIN, 0 };
        const int fd = ::poll(&waiting, 1, timeoutMs) == 1 ? ::accept4(m_fd, nullptr, nullptr, SOCK_CLOEXEC) : -1;
        if (fd >= 0)
            m_held.push_back(fd);
        return fd;
    }

private:
    LoopbackPort(const std::string &host, uint16_t port, int backlog)
        : m_fd(connected(host, port, true))
    {
        sockaddr_storage address {};
        socklen_t length = sizeof address;
        ::getsockname(m_fd, reinterpret_cast<sockaddr *>(&address), &length);
        m_port = ntohs(reinterpret_cast<sockaddr_in *>(&address)->sin_port); // at the same place for IPv6
        if (backlog >= 0)
            ::listen(m_fd, backlog);
        // One completed connection fills a queue of backlog 0; the system then drops every new SYN.
        if (backlog == 0)
            m_held.push_back(connected(host, m_port, false));
    }

    // A socket bound to, or connected to, a numeric address: nothing is looked up.
    static int connected(const std::string &host, uint16_t port, bool bindInstead)
    {
        addrinfo hints {};
        hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV;
        hints.ai_socktype = SOCK_STREAM;
        addrinfo *found = nullptr;
        if (::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0)
            throw std::runtime_error("not a numeric address");
        const int fd = ::socket(found->ai_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const int yes = 1;
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        const int result = bindInstead ? ::bind(fd, found->ai_addr, found->ai_addrlen)
                                       : ::connect(fd, found->ai_addr, found->ai_addrlen);
        ::freeaddrinfo(found);
        if (result != 0)
            throw std::runtime_error(bindInstead ? "bind() failed" : "could not fill the listen queue");
        return fd;
    }

    int m_fd = -1;
    uint16_t m_port = 0;
    std::vector<int> m_held; // accepted or queue-filling sockets, closed with the port
};
