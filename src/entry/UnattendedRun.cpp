#include "entry/UnattendedRun.h"

#include "actions/ResultLogs.h"
#include "actions/ResultMail.h"
#include "entry/CallingSequence.h"
#include "probes/TextRules.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

namespace {

void processPendingEvents()
{
    QCoreApplication::processEvents();
}

QString resolveAddress(const QString &)
{
    return QString();
}

} // namespace

// No settings are loaded here, so the probe's closing waits see the timeout
// bar's design value whatever timeout the calling sequence gave.
UnattendedRun::UnattendedRun()
    : m_probe([] { return kTimeoutBarDesignValue; })
{
}

void UnattendedRun::run(const QString &argumentText)
{
    // Both logs only ever hold the lines of the latest run.
    const QDir folder(ResultLog::programFolder());
    QFile::remove(folder.filePath(ResultLog::kSuccessLog));
    QFile::remove(folder.filePath(ResultLog::kErrorLog));
    processPendingEvents();

    const auto request = CallingSequence::read(argumentText, resolveAddress, processPendingEvents);
    if (!request) {
        modCommand::Log_Error(QStringLiteral("Port check not performed: Incorrect calling sequence."));
        modCommand::Log_Error(QStringLiteral("Type OSTREL /? for calling sequence help."));
        return;
    }
    check(*request);
}

void UnattendedRun::check(const CheckRequest &request)
{
    bool passed = false;
    const auto port = TextRules::toPortNumber(request.strPort);
    const auto timeout = TextRules::toWholeNumber16(request.strTimeout);
    if (port && timeout)
        passed = m_probe.Check_Socket(request.strAddress, *port, *timeout);
    processPendingEvents();

    const QString subject =
        QStringLiteral("Port ") + request.strPort + QStringLiteral(" on device ") + request.strDeviceName;
    if (passed)
        modCommand::Log_Success(subject + QStringLiteral(" is available."));
    else
        modCommand::Log_Error(subject + QStringLiteral(" is un-available."));
    processPendingEvents();

    if (!request.strMailServer.isEmpty() && !request.strRecipients.isEmpty() && request.bolPass == passed) {
        if (!modCommand::Send_ResultMail(m_mailSender, request.strMailServer, request.strRecipients,
                                         request.strPort, request.strDeviceName, passed))
            modCommand::Log_Error(QStringLiteral("Error sending SMTP email."));
    }
}
