#include "LoopbackPeers.h"

#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>
#include <utility>

namespace {

// A numeric address only: nothing is looked up.
int connected(const std::string &host, uint16_t port, bool bindInstead)
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

bool readable(int fd, int timeoutMs)
{
    pollfd waiting { fd, POLLIN, 0 };
    return ::poll(&waiting, 1, timeoutMs) == 1;
}

} // namespace

std::string privateLoopbackAddress()
{
    static int calls = 0;
    const int pid = static_cast<int>(::getpid());
    return "127." + std::to_string(1 + pid / 250 % 250) + '.' + std::to_string(1 + pid % 250) + '.'
        + std::to_string(1 + ++calls % 250);
}

LoopbackPort::LoopbackPort(const std::string &host, uint16_t port, int backlog)
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

LoopbackPort::LoopbackPort(LoopbackPort &&other) noexcept
    : m_fd(std::exchange(other.m_fd, -1))
    , m_port(other.m_port)
    , m_held(std::move(other.m_held))
{
}

LoopbackPort::~LoopbackPort()
{
    for (const int fd : m_held)
        ::close(fd);
    if (m_fd >= 0)
        ::close(m_fd);
}

LoopbackPort LoopbackPort::open(const std::string &address, uint16_t port) { return LoopbackPort(address, port, 16); }
LoopbackPort LoopbackPort::refused(const std::string &address) { return LoopbackPort(address, 0, -1); }
LoopbackPort LoopbackPort::blackholed(const std::string &address) { return LoopbackPort(address, 0, 0); }

int LoopbackPort::accept(int timeoutMs)
{
    const int fd = readable(m_fd, timeoutMs) ? ::accept4(m_fd, nullptr, nullptr, SOCK_CLOEXEC) : -1;
    if (fd >= 0)
        m_held.push_back(fd);
    return fd;
}
