#pragma once

#include "probes/PolledWait.h"
#include "probes/SocketControl.h"

#include <QObject>

// The TCP port probe and the socket it drives. The window owns one; the
// unattended run owns another, reading the timeout bar's design value.
class TcpProbe : public QObject {
    Q_OBJECT
public:
    explicit TcpProbe(TimeoutBarReader timeoutBar, QObject *parent = nullptr);

    // True when the device accepted a TCP connection on port intSocketType
    // within intTimeOut seconds. Blank strIP gives false without touching the
    // socket; so does a call made while another probe of this object is still waiting.
    bool Check_Socket(const QString &strIP, quint16 intSocketType, qint16 intTimeOut);

private slots:
    void Socket1_OnConnect();
    void Socket1_OnError(int errorCode, const QString &description, const QString &remote);
    void Socket1_OnTimeout(int limitMs, const QString &remote);

private:
    void closingWait();

    SocketControl m_socket1;
    TimeoutBarReader m_timeoutBar;
    qint16 m_intSocketState = 0;
    bool m_probing = false;
};
