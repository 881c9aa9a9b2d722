#include "entry/UnattendedRun.h"

#include "actions/ResultLogs.h"
#include "actions/ResultMail.h"
#include "actions/RunCommand.h"
#include "entry/CallingSequence.h"
#include "probes/TextRules.h"
#include "probes/modIP32.h"

#include <QCoreApplication>
#include <QDir>
#include <cstdio>

namespace {

void processPendingEvents() { QCoreApplication::processEvents(); }

} // namespace

// No settings are loaded here, so the probe's closing waits see the timeout
// bar's design value whatever timeout the calling sequence gave.
UnattendedRun::UnattendedRun()
    : m_probe([] { return kTimeoutBarDesignValue; })
{
}

UnattendedRun::Outcome UnattendedRun::run(const QString &argumentText)
{
    // Both logs only ever hold the lines of the latest run.
    const QDir folder(ResultLog::programFolder());
    ResultLog::remove(folder.filePath(ResultLog::kSuccessLog));
    ResultLog::remove(folder.filePath(ResultLog::kErrorLog));
    processPendingEvents();

    const auto request = CallingSequence::read(argumentText, modIP32::Get_HostIP, processPendingEvents);
    if (!request) {
        modCommand::Log_Error(QStringLiteral("Port check not performed: Incorrect calling sequence."));
        modCommand::Log_Error(QStringLiteral("Type OSTREL /? for calling sequence help."));
        return Outcome::Rejected;
    }
    return check(*request) ? Outcome::Available : Outcome::Unavailable;
}

bool UnattendedRun::check(const CheckRequest &request)
{
    bool passed = false;
    const auto port = TextRules::toPortNumber(request.strPort);
    const auto timeout = TextRules::toWholeNumber16(request.strTimeout);
    if (port && timeout)
        passed = m_probe.Check_Socket(request.strAddress, *port, *timeout);
    processPendingEvents();

    const QString subject
        = QStringLiteral("Port ") + request.strPort + QStringLiteral(" on device ") + request.strDeviceName;
    if (passed)
        modCommand::Log_Success(subject + QStringLiteral(" is available."));
    else
        modCommand::Log_Error(subject + QStringLiteral(" is un-available."));
    processPendingEvents();

    // The command is started (never waited for), then the mail goes out.
    const bool triggered = request.bolPass == passed;
    if (!request.strCommand.isEmpty() && triggered && !modCommand::Run_Command(request.strCommand, request.strArgument))
        modCommand::Log_Error(QStringLiteral("Error executing specified command, ") + request.strCommand);

    if (!request.strMailServer.isEmpty() && !request.strRecipients.isEmpty() && triggered
        && !modCommand::Send_ResultMail(m_mailSender, request.strMailServer, request.strRecipients, request.strPort,
            request.strDeviceName, passed)) {
        modCommand::Log_Error(QStringLiteral("Error sending SMTP email."));
        // Why, for whoever reads the scheduler's mail.
        std::fputs(qPrintable(QStringLiteral("mail: ") + m_mailSender.lastFailure() + QLatin1Char('\n')), stderr);
    }
    return passed;
}
