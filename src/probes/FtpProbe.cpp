#include "probes/FtpProbe.h"

#include "probes/ProbeSteps.h"
#include "probes/TextRules.h"

#include <QCoreApplication>
#include <QScopedValueRollback>

namespace {
constexpr quint16 kFtpControlPort = 21;
}

FtpProbe::FtpProbe(TimeoutBarReader timeoutBar, QObject *parent)
    : QObject(parent)
    , m_timeoutBar(std::move(timeoutBar))
{
}

void FtpProbe::closingWait()
{
    PolledWait::run(
        [this] { return m_ftpClient1.IsConnected(); }, m_timeoutBar, &m_ftpClient1, &FtpClientControl::StateChanged);
}

bool FtpProbe::Check_FTP(const QString &strIP, const QString &strName, const QString &strPassword, qint16 intTimeOut)
{
    if (TextRules::isBlank(strIP))
        return false;
    // The waits process events; a logon started from inside one would share the client.
    if (m_probing)
        return false;
    const QScopedValueRollback<bool> probing(m_probing, true);

    bool result = false;
    return ProbeSteps::continueOnce(
        [&] {
            if (m_ftpClient1.IsConnected())
                m_ftpClient1.Disconnect();
            closingWait();
            // The window went away during a wait: nothing more of this check.
            if (EventWait::abandoned())
                return;
            m_ftpClient1.SetTimeout(intTimeOut);
            m_ftpClient1.SetHostName(strIP);
            m_ftpClient1.SetRemotePort(kFtpControlPort);
            m_ftpClient1.SetUserName(strName);
            m_ftpClient1.SetPassword(strPassword);
            if (static_cast<qint16>(m_ftpClient1.Login()) == 0 && !EventWait::abandoned())
                result = true;
            QCoreApplication::processEvents();
        },
        [&] {
            m_ftpClient1.Disconnect();
            closingWait();
            return result;
        });
}
