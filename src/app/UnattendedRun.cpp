#include "app/UnattendedRun.h"

#include "app/CallingSequence.h"
#include "app/Report.h"
#include "base/Environment.h"
#include "base/TextRules.h"
#include "followup/Command.h"
#include "followup/ResultLog.h"
#include "followup/ResultMail.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>

namespace UnattendedRun {

namespace {

    enum class Mode { Logs, ExitStatus, Plugin };

    // Schedulers act on the exit status only when asked to: without
    // OSTREL_EXIT_STATUS every run ends with 0 and the logs are the outcome.
    Mode mode()
    {
        const std::string chosen = Environment::get("OSTREL_EXIT_STATUS");
        return chosen == "1" ? Mode::ExitStatus : chosen == "plugin" ? Mode::Plugin : Mode::Logs;
    }

    int exitStatus(Mode mode, Outcome outcome)
    {
        if (mode == Mode::Plugin) // the Monitoring Plugins' OK, CRITICAL and UNKNOWN
            return outcome == Outcome::Available ? 0 : outcome == Outcome::Unavailable ? 2 : 3;
        if (mode == Mode::ExitStatus)
            return outcome == Outcome::Available ? 0 : outcome == Outcome::Rejected ? 2 : 1;
        return 0;
    }

    void say(std::FILE *stream, const std::string &line)
    {
        std::fputs((line + '\n').c_str(), stream);
        std::fflush(stream);
    }

    Report::Check check(const CheckRequest &request)
    {
        Report::Check check;
        check.device = request.strDeviceName;
        check.port = request.strPort;
        check.timeout = request.strTimeout;
        const auto port = TextRules::toPortNumber(request.strPort);
        const auto timeout = TextRules::toWholeNumber16(request.strTimeout);
        check.portIsNumber = port.has_value();
        check.timeoutIsNumber = timeout.has_value();
        check.timeoutSeconds = timeout.value_or(0);
        if (!check.performed()) {
            std::string why = TextRules::blankControls(Report::cause(check));
            why.front() = static_cast<char>(std::tolower(why.front())); // within a sentence
            say(stderr, "ostrel: " + why);
            return check;
        }
        if (request.addresses.found == Addresses::Found::Addresses)
            check.outcome = TcpProbe::Check_Socket(request.addresses.addresses, *port, *timeout);
        return check;
    }

    int runChecked(const std::string &argumentText, Mode chosen)
    {
        // Both logs only ever hold the lines of the latest run.
        ResultLog::startRun();

        const auto reading = CallingSequence::read(argumentText,
            [](const std::string &name) { return Addresses::ofDevice(name, Wait::kForever, Wait::polling()); });
        if (const auto *rejected = std::get_if<CallingSequence::Rejected>(&reading)) {
            ResultLog::Log_Error("Port check not performed: Incorrect calling sequence.");
            ResultLog::Log_Error("Type OSTREL /? for calling sequence help.");
            say(stderr, "ostrel: incorrect calling sequence: " + rejected->why + " (see ostrel --help)");
            if (chosen == Mode::Plugin)
                say(stdout, Report::pluginLine(rejected->why));
            return exitStatus(chosen, Outcome::Rejected);
        }
        const auto &request = std::get<CheckRequest>(reading);
        const Report::Check checked = check(request);
        const bool passed = checked.passed();
        if (passed)
            ResultLog::Log_Success(Report::resultLine(checked));
        else
            ResultLog::Log_Error(Report::resultLine(checked));
        // Scheduled runs stay quiet; a person at a terminal reads the outcome there too.
        if (chosen == Mode::Plugin)
            say(stdout, Report::pluginLine(checked));
        else if (::isatty(STDOUT_FILENO))
            say(stdout, Report::terminalLine(checked));

        // The command is started (never waited for), then the mail goes out.
        const bool triggered = request.bolPass == passed;
        if (!request.strCommand.empty() && triggered) {
            modWin32Api::Launch launch;
            launch.environment = Command::checkEnvironment(request.strDeviceName, request.strPort, passed);
            // A monitoring engine reads one line on standard output: the command's goes elsewhere.
            launch.outputToErrors = chosen == Mode::Plugin;
            int32_t result = 0;
            if (!Command::Run_Command(request.strCommand, request.strArgument, launch, &result)) {
                ResultLog::Log_Error("Error executing specified command, " + request.strCommand);
                say(stderr,
                    TextRules::blankControls(
                        "command: " + request.strCommand + " cannot be started: " + modWin32Api::describe(result)));
            }
        }
        if (!request.strMailServer.empty() && !request.strRecipients.empty() && triggered) {
            std::string failure;
            if (!ResultMail::Send_ResultMail(request.strMailServer, request.strRecipients, request.strPort,
                    request.strDeviceName, passed, Wait::polling(), failure)) {
                ResultLog::Log_Error("Error sending SMTP email.");
                // Why, for whoever reads the scheduler's mail.
                say(stderr, "mail: " + TextRules::blankControls(failure));
            }
        }
        return exitStatus(chosen,
            passed                    ? Outcome::Available
                : checked.performed() ? Outcome::Unavailable
                                      : Outcome::NotPerformed);
    }

} // namespace

int run(const std::string &argumentText)
{
    const Mode chosen = mode();
    try {
        return runChecked(argumentText, chosen);
    } catch (const std::exception &failure) {
        ResultLog::Log_Error(std::string("Error loading main form. ") + failure.what());
        return exitStatus(chosen, Outcome::NotPerformed);
    }
}

} // namespace UnattendedRun
