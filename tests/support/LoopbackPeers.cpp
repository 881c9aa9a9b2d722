#include "LoopbackPeers.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <utility>
#include <sys/socket.h>
#include <unistd.h>

namespace {

sockaddr_in loopback(quint16 port)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

int boundSocket()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        throw std::runtime_error("socket() failed");
    sockaddr_in address = loopback(0);
    if (::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
        ::close(fd);
        throw std::runtime_error("bind() failed");
    }
    return fd;
}

} // namespace

LoopbackPort::LoopbackPort(int fd)
    : m_fd(fd)
{
    sockaddr_in address{};
    socklen_t length = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length);
    m_port = ntohs(address.sin_port);
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

LoopbackPort LoopbackPort::open()
{
    LoopbackPort port(boundSocket());
    ::listen(port.m_fd, 16);
    return port;
}

LoopbackPort LoopbackPort::refused()
{
    return LoopbackPort(boundSocket());
}

LoopbackPort LoopbackPort::blackholed()
{
    LoopbackPort port(boundSocket());
    ::listen(port.m_fd, 0);
    // One completed connection fills a queue of backlog 0; from then on the
    // system drops every new attempt's first packet.
    const int filler = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = loopback(port.m_port);
    if (::connect(filler, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0)
        throw std::runtime_error("could not fill the listen queue");
    port.m_held.push_back(filler);
    return port;
}

int LoopbackPort::accept(int timeoutMs)
{
    pollfd waiting{m_fd, POLLIN, 0};
    if (::poll(&waiting, 1, timeoutMs) != 1)
        return -1;
    const int fd = ::accept4(m_fd, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd >= 0)
        m_held.push_back(fd);
    return fd;
}

bool peerClosed(int fd, int timeoutMs)
{
    pollfd waiting{fd, POLLIN, 0};
    if (::poll(&waiting, 1, timeoutMs) != 1)
        return false;
    char byte;
    return ::recv(fd, &byte, 1, MSG_PEEK) == 0;
}
