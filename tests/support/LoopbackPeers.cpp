#include "LoopbackPeers.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <utility>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// An IPv4 or IPv6 (text with a ":") socket address, and its length.
std::pair<sockaddr_storage, socklen_t> loopback(quint16 port, const QString &host = QStringLiteral("127.0.0.1"))
{
    sockaddr_storage storage{};
    const QByteArray text = host.toLatin1();
    if (host.contains(QLatin1Char(':'))) {
        auto *address = reinterpret_cast<sockaddr_in6 *>(&storage);
        address->sin6_family = AF_INET6;
        address->sin6_port = htons(port);
        ::inet_pton(AF_INET6, text.constData(), &address->sin6_addr);
        return {storage, socklen_t(sizeof(sockaddr_in6))};
    }
    auto *address = reinterpret_cast<sockaddr_in *>(&storage);
    address->sin_family = AF_INET;
    address->sin_port = htons(port);
    ::inet_pton(AF_INET, text.constData(), &address->sin_addr);
    return {storage, socklen_t(sizeof(sockaddr_in))};
}

int boundSocket(const QString &host = QStringLiteral("127.0.0.1"), quint16 port = 0)
{
    auto [address, length] = loopback(port, host);
    const int fd = ::socket(address.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        throw std::runtime_error("socket() failed");
    const int yes = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    if (::bind(fd, reinterpret_cast<sockaddr *>(&address), length) != 0) {
        ::close(fd);
        throw std::runtime_error("bind() failed");
    }
    return fd;
}

} // namespace

LoopbackPort::LoopbackPort(int fd)
    : m_fd(fd)
{
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length);
    // The port sits at the same place in both families' addresses.
    m_port = ntohs(reinterpret_cast<sockaddr_in *>(&address)->sin_port);
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

QString privateLoopbackAddress()
{
    static int calls = 0;
    const int pid = static_cast<int>(::getpid());
    ++calls;
    return QStringLiteral("127.%1.%2.%3").arg(1 + pid / 250 % 250).arg(1 + pid % 250).arg(1 + calls % 250);
}

LoopbackPort LoopbackPort::open(const QString &address, quint16 portNumber)
{
    LoopbackPort port(boundSocket(address, portNumber));
    ::listen(port.m_fd, 16);
    return port;
}

LoopbackPort LoopbackPort::refused(const QString &address)
{
    return LoopbackPort(boundSocket(address));
}

LoopbackPort LoopbackPort::blackholed(const QString &host)
{
    LoopbackPort port(boundSocket(host));
    ::listen(port.m_fd, 0);
    // One completed connection fills a queue of backlog 0; from then on the
    // system drops every new attempt's first packet.
    auto [address, length] = loopback(port.m_port, host);
    const int filler = ::socket(address.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (::connect(filler, reinterpret_cast<sockaddr *>(&address), length) != 0)
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

ScriptedPeer::ScriptedPeer(const QByteArray &greeting, const QList<QByteArray> &replies,
                           const QString &address, quint16 port)
    : m_listener(LoopbackPort::open(address, port))
    , m_greeting(greeting)
    , m_replies(replies)
{
    if (::pipe2(m_wake, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe2() failed");
    m_thread = std::thread([this] { serve(); });
}

ScriptedPeer::~ScriptedPeer()
{
    [[maybe_unused]] const auto woken = ::write(m_wake[1], "x", 1);
    m_thread.join();
    ::close(m_wake[0]);
    ::close(m_wake[1]);
}

void ScriptedPeer::serve()
{
    // Every wait also watches the wake pipe, so the destructor can end the thread.
    const auto waitFor = [this](int fd) {
        pollfd waiting[2] = {{fd, POLLIN, 0}, {m_wake[0], POLLIN, 0}};
        return ::poll(waiting, 2, 30000) > 0 && (waiting[0].revents & (POLLIN | POLLHUP)) != 0
            && (waiting[1].revents & POLLIN) == 0;
    };
    if (!waitFor(m_listener.m_fd))
        return;
    const int fd = ::accept4(m_listener.m_fd, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0)
        return;
    m_listener.m_held.push_back(fd);
    ::send(fd, m_greeting.constData(), m_greeting.size(), MSG_NOSIGNAL);
    QByteArray pending;
    qsizetype next = 0;
    while (waitFor(fd)) {
        char buffer[1024];
        const ssize_t count = ::recv(fd, buffer, sizeof buffer, 0);
        if (count <= 0)
            break;
        pending.append(buffer, count);
        for (qsizetype end; (end = pending.indexOf('\n')) >= 0;) {
            {
                const std::lock_guard<std::mutex> lock(m_mutex);
                m_received << pending.left(end).trimmed();
            }
            pending.remove(0, end + 1);
            if (next < m_replies.size()) {
                const QByteArray &reply = m_replies.at(next++);
                ::send(fd, reply.constData(), reply.size(), MSG_NOSIGNAL);
            }
        }
    }
    const std::lock_guard<std::mutex> lock(m_mutex);
    m_closed = true;
}

QList<QByteArray> ScriptedPeer::received(int timeoutMs)
{
    for (int waited = 0; waited < timeoutMs; waited += 10) {
        {
            const std::lock_guard<std::mutex> lock(m_mutex);
            if (m_closed)
                break;
        }
        ::usleep(10000);
    }
    const std::lock_guard<std::mutex> lock(m_mutex);
    return m_received;
}
