#include "LoopbackPeers.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>
#include <utility>

namespace {

struct Address {
    sockaddr_storage storage{};
    socklen_t length = sizeof(sockaddr_in);
    sockaddr *get() { return reinterpret_cast<sockaddr *>(&storage); }
};

// The port sits at the same place in both families' addresses.
Address loopback(const QString &host, quint16 port)
{
    Address address;
    auto *v4 = reinterpret_cast<sockaddr_in *>(&address.storage);
    auto *v6 = reinterpret_cast<sockaddr_in6 *>(&address.storage);
    const bool isV6 = host.contains(QLatin1Char(':'));
    address.storage.ss_family = isV6 ? AF_INET6 : AF_INET;
    v4->sin_port = htons(port);
    if (isV6)
        address.length = sizeof(sockaddr_in6);
    ::inet_pton(address.storage.ss_family, host.toLatin1().constData(),
                isV6 ? static_cast<void *>(&v6->sin6_addr) : &v4->sin_addr);
    return address;
}

bool readable(int fd, int timeoutMs)
{
    pollfd waiting{fd, POLLIN, 0};
    return ::poll(&waiting, 1, timeoutMs) == 1;
}

} // namespace

LoopbackPort::LoopbackPort(const QString &host, quint16 port)
{
    Address address = loopback(host, port);
    m_fd = ::socket(address.storage.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int yes = 1;
    ::setsockopt(m_fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    if (m_fd < 0 || ::bind(m_fd, address.get(), address.length) != 0
        || ::getsockname(m_fd, address.get(), &address.length) != 0) {
        ::close(m_fd);
        throw std::runtime_error("cannot bind a loopback port");
    }
    m_port = ntohs(reinterpret_cast<sockaddr_in *>(&address.storage)->sin_port);
}

LoopbackPort::LoopbackPort(LoopbackPort &&other) noexcept
    : m_fd(std::exchange(other.m_fd, -1)), m_port(other.m_port), m_held(std::move(other.m_held))
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
    return QStringLiteral("127.%1.%2.%3").arg(1 + pid / 250 % 250).arg(1 + pid % 250).arg(1 + ++calls % 250);
}

LoopbackPort LoopbackPort::open(const QString &address, quint16 portNumber)
{
    LoopbackPort port(address, portNumber);
    ::listen(port.m_fd, 16);
    return port;
}

LoopbackPort LoopbackPort::refused(const QString &address)
{
    return LoopbackPort(address, 0);
}

LoopbackPort LoopbackPort::blackholed(const QString &host)
{
    LoopbackPort port(host, 0);
    ::listen(port.m_fd, 0);
    // One completed connection fills a queue of backlog 0; the system then drops every new SYN.
    Address address = loopback(host, port.m_port);
    port.m_held.push_back(::socket(address.storage.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (::connect(port.m_held.back(), address.get(), address.length) != 0)
        throw std::runtime_error("could not fill the listen queue");
    return port;
}

void LoopbackPort::answer()
{
    ::listen(m_fd, 64);
}

int LoopbackPort::accept(int timeoutMs)
{
    const int fd = readable(m_fd, timeoutMs) ? ::accept4(m_fd, nullptr, nullptr, SOCK_CLOEXEC) : -1;
    if (fd >= 0)
        m_held.push_back(fd);
    return fd;
}

bool peerClosed(int fd, int timeoutMs)
{
    char byte;
    return readable(fd, timeoutMs) && ::recv(fd, &byte, 1, MSG_PEEK) == 0;
}

ScriptedPeer::ScriptedPeer(const QByteArray &greeting, const QList<QByteArray> &replies,
                           const QString &address, quint16 port)
    : m_listener(LoopbackPort::open(address, port)), m_greeting(greeting), m_replies(replies)
    , m_thread([this] { serve(); })
{
}

ScriptedPeer::~ScriptedPeer()
{
    m_stop = true;
    m_thread.join();
}

void ScriptedPeer::serve()
{
    // Waits in slices, so the destructor can end the thread.
    const auto waitFor = [this](int fd) {
        for (int slice = 0; slice < 300 && !m_stop; ++slice)
            if (readable(fd, 100))
                return true;
        return false;
    };
    const int fd = waitFor(m_listener.m_fd) ? m_listener.accept(0) : -1;
    if (fd >= 0)
        ::send(fd, m_greeting.constData(), m_greeting.size(), MSG_NOSIGNAL);
    QByteArray pending;
    qsizetype next = 0;
    char buffer[1024];
    for (ssize_t count; fd >= 0 && waitFor(fd) && (count = ::recv(fd, buffer, sizeof buffer, 0)) > 0;) {
        pending.append(buffer, count);
        for (qsizetype end; (end = pending.indexOf('\n')) >= 0; pending.remove(0, end + 1)) {
            {
                const std::lock_guard<std::mutex> lock(m_mutex);
                m_received << pending.left(end).trimmed();
            }
            if (const QByteArray reply = m_replies.value(next++); !reply.isEmpty())
                ::send(fd, reply.constData(), reply.size(), MSG_NOSIGNAL);
        }
    }
    const std::lock_guard<std::mutex> lock(m_mutex);
    m_closed = true;
    m_changed.notify_all();
}

QList<QByteArray> ScriptedPeer::received(int timeoutMs)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return m_closed; });
    return m_received;
}
