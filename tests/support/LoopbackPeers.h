#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QtGlobal>
#include <mutex>
#include <thread>
#include <vector>

// A loopback address of its own for each call (127.x.y.z, never 127.0.0.1),
// for servers that must listen on a fixed port such as 21 without meeting
// each other or the machine's own services.
QString privateLoopbackAddress();

// TCP ends on loopback for tests (127.0.0.1 unless told, "::1" for IPv6),
// each on a free port chosen by the system.
class LoopbackPort
{
public:
    // Accepts connections: the system completes them even when nobody reads.
    static LoopbackPort open(const QString &address = QStringLiteral("127.0.0.1"), quint16 port = 0);
    // Bound but not listening: every connection attempt is refused at once.
    static LoopbackPort refused(const QString &address = QStringLiteral("127.0.0.1"));
    // Listening with a backlog of 0 whose queue is already full: attempts get
    // no answer at all, like a port behind a dropping firewall.
    static LoopbackPort blackholed(const QString &address = QStringLiteral("127.0.0.1"));

    LoopbackPort(LoopbackPort &&other) noexcept;
    LoopbackPort &operator=(LoopbackPort &&) = delete;
    ~LoopbackPort();

    quint16 port() const { return m_port; }

    // Accepts one pending connection within the time given; -1 when none came.
    int accept(int timeoutMs);

private:
    explicit LoopbackPort(int fd);
    friend class ScriptedPeer;

    int m_fd = -1;
    quint16 m_port = 0;
    std::vector<int> m_held;   // accepted or queue-filling sockets, closed with the port
};

// True when the peer of a connected socket has closed its end within the time given.
bool peerClosed(int fd, int timeoutMs);

// A TCP peer on loopback that plays a fixed dialogue from a thread of its
// own: on the first connection it sends the greeting, then answers every
// line it receives with the next reply, and records the lines.
class ScriptedPeer
{
public:
    ScriptedPeer(const QByteArray &greeting, const QList<QByteArray> &replies,
                 const QString &address = QStringLiteral("127.0.0.1"), quint16 port = 0);
    ~ScriptedPeer();

    quint16 port() const { return m_listener.port(); }

    // The lines received, without line ends, once the client has closed the
    // connection or the time given has passed.
    QList<QByteArray> received(int timeoutMs);

private:
    void serve();

    LoopbackPort m_listener;
    QByteArray m_greeting;
    QList<QByteArray> m_replies;
    std::mutex m_mutex;
    QList<QByteArray> m_received;
    bool m_closed = false;
    int m_wake[2] = {-1, -1};
    std::thread m_thread;
};
