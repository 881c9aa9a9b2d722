#include "app/Report.h"

#include "base/TextRules.h"
#include "followup/ResultMail.h"
#include "plugin/PluginLine.h"

namespace Report {

namespace {

    // Why the port or the timeout cannot be used, each text shown as `show` shows it.
    std::string unusable(const Check &check, std::string (*show)(std::string_view))
    {
        const std::string &text = check.portUsable ? check.timeout : check.port;
        return (check.portUsable ? "The timeout \"" : "The port \"") + show(text)
            + (TextRules::isNumeric(text) ? "\" is out of range" : "\" is not a number");
    }

    std::string asTyped(std::string_view text) { return std::string(text); }

} // namespace

std::string resultLine(const Check &check) { return ResultMail::resultLine(check.port, check.device, check.passed()); }

std::string cause(const Check &check)
{
    return (check.performed() ? TcpProbe::describe(check.outcome, check.timeoutSeconds) : unusable(check, asTyped))
        + '.';
}

std::string terminalLine(const Check &check)
{
    return TextRules::blankControls(resultLine(check) + (check.passed() ? "" : ' ' + cause(check)));
}

PluginLine::Verdict pluginVerdict(const Check &check)
{
    using PluginLine::State;
    if (!check.performed())
        return { State::Unknown, PluginLine::line(State::Unknown, unusable(check, PluginLine::shown)) };
    PluginLine::Policy policy;
    policy.timeoutSeconds = check.timeoutSeconds;
    return PluginLine::ofOutcome(check.outcome, check.device, check.port, policy);
}

std::string pluginLine(const std::string &rejectedWhy)
{
    return PluginLine::line(PluginLine::State::Unknown, "Incorrect calling sequence: " + rejectedWhy);
}

} // namespace Report
