#include "app/Report.h"

#include "base/TextRules.h"
#include "plugin/PluginLine.h"

namespace Report {

namespace {

    std::string notANumber(const Check &check, std::string (*show)(std::string_view))
    {
        return !check.portIsNumber ? "The port \"" + show(check.port) + "\" is not a number"
                                   : "The timeout \"" + show(check.timeout) + "\" is not a number";
    }

    std::string asTyped(std::string_view text) { return std::string(text); }

} // namespace

std::string resultLine(const Check &check)
{
    return "Port " + check.port + " on device " + check.device
        + (check.passed() ? " is available." : " is un-available.");
}

std::string cause(const Check &check)
{
    return (check.performed() ? TcpProbe::describe(check.outcome, check.timeoutSeconds) : notANumber(check, asTyped))
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
        return { State::Unknown, PluginLine::line(State::Unknown, notANumber(check, PluginLine::shown)) };
    PluginLine::Policy policy;
    policy.timeoutSeconds = check.timeoutSeconds;
    return PluginLine::ofOutcome(check.outcome, check.device, check.port, policy);
}

std::string pluginLine(const std::string &rejectedWhy)
{
    return PluginLine::line(
        PluginLine::State::Unknown, "Incorrect calling sequence: " + PluginLine::shown(rejectedWhy));
}

} // namespace Report
