#include "probes/TcpProbe.h"

#include "probes/ProbeSteps.h"
#include "probes/TextRules.h"

#include <QCoreApplication>
#include <QScopedValueRollback>

TcpProbe::TcpProbe(TimeoutBarReader timeoutBar, QObject *parent)
    : QObject(parent)
    , m_timeoutBar(std::move(timeoutBar))
{
    connect(&m_socket1, &SocketControl::OnConnect, this, &TcpProbe::Socket1_OnConnect);
    connect(&m_socket1, &SocketControl::OnError, this, &TcpProbe::Socket1_OnError);
    connect(&m_socket1, &SocketControl::OnTimeout, this, &TcpProbe::Socket1_OnTimeout);
}

void TcpProbe::Socket1_OnConnect() { m_intSocketState = 1; }

void TcpProbe::Socket1_OnError(int, const QString &, const QString &) { m_intSocketState = -1; }

void TcpProbe::Socket1_OnTimeout(int, const QString &) { m_intSocketState = -1; }

void TcpProbe::closingWait()
{
    PolledWait::run([this] { return m_socket1.IsConnected(); }, m_timeoutBar, &m_socket1, &SocketControl::StateChanged);
}

bool TcpProbe::Check_Socket(const QString &strIP, quint16 intSocketType, qint16 intTimeOut)
{
    if (TextRules::isBlank(strIP))
        return false;
    // The waits process events, so a second check could start from inside the
    // first one; it would share the socket and its state, so it is refused.
    if (m_probing)
        return false;
    const QScopedValueRollback<bool> probing(m_probing, true);

    qint16 connectCode = 0;
    return ProbeSteps::continueOnce(
        [&] {
            if (m_socket1.IsConnected())
                m_socket1.Disconnect();
            closingWait();
            // The window went away during a wait: nothing more of this check.
            if (EventWait::abandoned())
                return;
            m_intSocketState = 0;
            m_socket1.SetReserved1(0);
            m_socket1.SetTimeout(static_cast<qint32>(intTimeOut) * 1000);
            m_socket1.SetHostName(strIP);
            m_socket1.SetReserved2(0);
            m_socket1.SetRemotePort(intSocketType);
            connectCode = static_cast<qint16>(m_socket1.Connect());
            QCoreApplication::processEvents();
        },
        [&] {
            const bool result = connectCode == 0 && m_intSocketState == 1 && !EventWait::abandoned();
            m_socket1.Disconnect();
            closingWait();
            return result;
        });
}
