#pragma once

#include <QtGlobal>
#include <vector>

// TCP ends on 127.0.0.1 for tests, each on a free port chosen by the system.
class LoopbackPort
{
public:
    // Accepts connections: the system completes them even when nobody reads.
    static LoopbackPort open();
    // Bound but not listening: every connection attempt is refused at once.
    static LoopbackPort refused();
    // Listening with a backlog of 0 whose queue is already full: attempts get
    // no answer at all, like a port behind a dropping firewall.
    static LoopbackPort blackholed();

    LoopbackPort(LoopbackPort &&other) noexcept;
    LoopbackPort &operator=(LoopbackPort &&) = delete;
    ~LoopbackPort();

    quint16 port() const { return m_port; }

    // Accepts one pending connection within the time given; -1 when none came.
    int accept(int timeoutMs);

private:
    explicit LoopbackPort(int fd);

    int m_fd = -1;
    quint16 m_port = 0;
    std::vector<int> m_held;   // accepted or queue-filling sockets, closed with the port
};

// True when the peer of a connected socket has closed its end within the time given.
bool peerClosed(int fd, int timeoutMs);
