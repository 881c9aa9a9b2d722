#include "app/Report.h"

#include "base/TextRules.h"
#include "followup/ResultMail.h"

#include <cstdio>

namespace Report {

namespace {

    // A device name in a plugin line: one line, and no "|" that would start the performance data.
    std::string pluginText(const std::string &text)
    {
        std::string shown = TextRules::blankControls(text);
        for (char &c : shown)
            c = c == '|' ? ' ' : c;
        return shown;
    }

    std::string notANumber(const Check &check)
    {
        return !check.portIsNumber ? "The port \"" + check.port + "\" is not a number"
                                   : "The timeout \"" + check.timeout + "\" is not a number";
    }

} // namespace

std::string resultLine(const Check &check) { return ResultMail::resultLine(check.port, check.device, check.passed()); }

std::string cause(const Check &check)
{
    return (check.performed() ? TcpProbe::describe(check.outcome, check.timeoutSeconds) : notANumber(check)) + '.';
}

std::string terminalLine(const Check &check)
{
    return TextRules::blankControls(resultLine(check) + (check.passed() ? "" : ' ' + cause(check)));
}

std::string pluginLine(const Check &check)
{
    const std::string where = " on " + pluginText(check.device) + " port " + pluginText(check.port);
    if (!check.performed())
        return "TCP UNKNOWN - " + pluginText(notANumber(check));
    if (!check.passed())
        return "TCP CRITICAL - " + TcpProbe::describe(check.outcome, check.timeoutSeconds) + where;
    char figures[160];
    std::snprintf(figures, sizeof figures, "TCP OK - %.3f second response time", check.outcome.seconds);
    std::string line = figures + where;
    std::snprintf(figures, sizeof figures, "|time=%.6fs;;;0.000000;%.6f", check.outcome.seconds,
        TcpProbe::limitMs(check.timeoutSeconds) / 1000.0);
    return line + figures;
}

std::string pluginLine(const std::string &rejectedWhy)
{
    return "TCP UNKNOWN - Incorrect calling sequence: " + pluginText(rejectedWhy);
}

} // namespace Report
