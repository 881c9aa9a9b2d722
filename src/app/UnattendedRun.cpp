#include "app/UnattendedRun.h"

#include "app/CallingSequence.h"
#include "app/Report.h"
#include "base/Environment.h"
#include "base/TextRules.h"
#include "followup/Command.h"
#include "followup/ResultLog.h"
#include "followup/ResultMail.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace UnattendedRun {

namespace {

    enum class Mode { Logs, ExitStatus, Plugin };

    // Schedulers act on the exit status only when asked to: without
    // OSTREL_EXIT_STATUS every run ends with 0 and the logs are the outcome.
    Mode chosenMode()
    {
        const std::string chosen = Environment::get("OSTREL_EXIT_STATUS");
        return chosen == "1" ? Mode::ExitStatus : chosen == "plugin" ? Mode::Plugin : Mode::Logs;
    }

    int exitStatus(Mode mode, Outcome outcome)
    {
        if (mode == Mode::ExitStatus)
            return outcome == Outcome::Available ? 0 : outcome == Outcome::Rejected ? 2 : 1;
        return 0;
    }

    void say(std::FILE *stream, const std::string &line)
    {
        std::fputs((line + '\n').c_str(), stream);
        std::fflush(stream);
    }

    // What this run writes: the logs, and for a monitoring engine its one line.
    struct Run {
        Mode mode = chosenMode();
        // An engine's checks keep no logs unless a folder is named for them: the
        // engine user's state folder is shared by every service it checks.
        bool logs = mode != Mode::Plugin || Environment::isSet("OSTREL_LOG_DIR");
        bool lineSaid = false;
        int status = 3;

        void success(const std::string &message) const
        {
            if (logs)
                ResultLog::Log_Success(message);
        }
        void error(const std::string &message) const
        {
            if (logs)
                ResultLog::Log_Error(message);
        }
        // The engine's line; once, whatever ends the run.
        int verdict(const PluginLine::Verdict &verdict)
        {
            if (!lineSaid) {
                say(stdout, verdict.line);
                status = static_cast<int>(verdict.state);
                lineSaid = true;
            }
            return status;
        }
    };

    Report::Check check(const CheckRequest &request)
    {
        Report::Check check;
        check.device = request.strDeviceName;
        check.port = request.strPort;
        check.timeout = request.strTimeout;
        const auto port = TextRules::toPortNumber(request.strPort);
        const auto timeout = TextRules::toTimeout(request.strTimeout);
        check.portUsable = port.has_value();
        check.timeoutUsable = timeout.has_value();
        check.timeoutSeconds = timeout.value_or(0);
        if (!check.performed()) {
            std::string why = TextRules::blankControls(Report::cause(check));
            why.front() = static_cast<char>(std::tolower(why.front())); // within a sentence
            say(stderr, "ostrel: " + why);
            return check;
        }
        check.outcome.failure = TcpProbe::failureOf(request.addresses.found);
        if (request.addresses.found == Addresses::Found::Addresses)
            check.outcome = TcpProbe::Check_Socket(request.addresses.addresses, *port, *timeout);
        return check;
    }

    enum class Sender { ThisProcess, Child, Elsewhere };

    // For an engine the mail goes out from a grandchild in a session of its own,
    // its standard streams on the null device: the engine has the line and the
    // exit status at once, and none of its pipes stays open behind them.
    Sender detachForMail()
    {
        const pid_t middle = ::fork();
        if (middle < 0)
            return Sender::ThisProcess; // the check then waits for its mail
        if (middle > 0) {
            ::waitpid(middle, nullptr, 0); // no handler is installed, so nothing interrupts it
            return Sender::Elsewhere;
        }
        ::setsid();
        if (::fork() > 0)
            ::_exit(0); // (a middle child that cannot fork sends the mail itself)
        const int null = ::open("/dev/null", O_RDWR);
        for (const int stream : { STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO })
            ::dup2(null, stream);
        if (null > STDERR_FILENO)
            ::close(null);
        return Sender::Child;
    }

    int runChecked(const std::string &argumentText, Run &run)
    {
        // Both logs only ever hold the lines of the latest run.
        if (run.logs)
            ResultLog::startRun();

        const auto reading = CallingSequence::read(argumentText,
            [](const std::string &name) { return Addresses::ofDevice(name, Wait::kForever, Wait::polling()); });
        if (const auto *rejected = std::get_if<CallingSequence::Rejected>(&reading)) {
            run.error("Port check not performed: Incorrect calling sequence.");
            run.error("Type OSTREL /? for calling sequence help.");
            say(stderr, "ostrel: incorrect calling sequence: " + rejected->why + " (see ostrel --help)");
            if (run.mode == Mode::Plugin)
                return run.verdict({ PluginLine::State::Unknown, Report::pluginLine(rejected->why) });
            return exitStatus(run.mode, Outcome::Rejected);
        }
        const auto &request = std::get<CheckRequest>(reading);
        const Report::Check checked = check(request);
        const bool passed = checked.passed();
        if (passed)
            run.success(Report::resultLine(checked));
        else
            run.error(Report::resultLine(checked));
        // Scheduled runs stay quiet; a person at a terminal reads the outcome there too.
        const Outcome outcome = passed ? Outcome::Available
            : checked.performed()      ? Outcome::Unavailable
                                       : Outcome::NotPerformed;
        const int status
            = run.mode == Mode::Plugin ? run.verdict(Report::pluginVerdict(checked)) : exitStatus(run.mode, outcome);
        if (run.mode != Mode::Plugin && ::isatty(STDOUT_FILENO))
            say(stdout, Report::terminalLine(checked));

        // The command is started (never waited for), then the mail goes out.
        const bool triggered = request.bolPass == passed;
        if (!request.strCommand.empty() && triggered) {
            modWin32Api::Launch launch;
            launch.environment = Command::checkEnvironment(request.strDeviceName, request.strPort, passed);
            // A monitoring engine reads one line on pipes that must close when the check ends.
            launch.hidden = run.mode == Mode::Plugin;
            int32_t result = 0;
            if (!Command::Run_Command(request.strCommand, request.strArgument, launch, &result)) {
                const int error = errno;
                run.error("Error executing specified command, " + request.strCommand);
                say(stderr,
                    TextRules::blankControls("command: " + request.strCommand
                        + " cannot be started: " + modWin32Api::describe(result, error)));
            }
        }
        if (!request.strMailServer.empty() && triggered) { // the sequence has recipients after any server
            const Sender sender = run.mode == Mode::Plugin ? detachForMail() : Sender::ThisProcess;
            if (sender == Sender::Elsewhere)
                return status;
            std::string failure;
            if (!ResultMail::Send_ResultMail(request.strMailServer, request.strRecipients, request.strPort,
                    request.strDeviceName, passed, Wait::polling(), failure)) {
                run.error("Error sending SMTP email.");
                // Why, for whoever reads the scheduler's mail.
                say(stderr, "mail: " + TextRules::blankControls(failure));
            }
            if (sender == Sender::Child)
                ::_exit(0);
        }
        return status;
    }

} // namespace

int run(const std::string &argumentText)
{
    Run run;
    try {
        return runChecked(argumentText, run);
    } catch (const std::exception &failure) {
        run.error(std::string("Error loading main form. ") + failure.what());
        if (run.mode == Mode::Plugin) {
            const std::string why = std::string("Internal error: ") + failure.what();
            return run.verdict({ PluginLine::State::Unknown, PluginLine::line(PluginLine::State::Unknown, why) });
        }
        return exitStatus(run.mode, Outcome::NotPerformed);
    }
}

} // namespace UnattendedRun
