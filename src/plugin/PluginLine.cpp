#include "plugin/PluginLine.h"

#include "base/TextRules.h"

#include <algorithm>
#include <cstdio>

namespace PluginLine {

namespace {

    std::string seconds(const std::optional<double> &value)
    {
        char text[64] = {};
        if (value)
            std::snprintf(text, sizeof text, "%.6f", *value);
        return text;
    }

    std::string performance(double taken, const Policy &policy)
    {
        char text[64];
        std::snprintf(text, sizeof text, "time=%.6fs;", taken);
        return text + seconds(policy.warning) + ';' + seconds(policy.critical) + ";0.000000;"
            + seconds(TcpProbe::limitMs(policy.timeoutSeconds) / 1000.0);
    }

} // namespace

std::string shown(std::string_view text)
{
    const std::string_view cut = TextRules::cutAtCharacter(text, kLongestText);
    std::string safe = TextRules::blankControls(cut) + (cut.size() < text.size() ? "..." : "");
    std::replace(safe.begin(), safe.end(), '|', ' ');
    return safe;
}

std::string where(std::string_view device, std::string_view port)
{
    return " on " + shown(device) + " port " + shown(port);
}

std::string line(State state, std::string_view text, std::string_view performance)
{
    static const char *const names[] = { "OK", "WARNING", "CRITICAL", "UNKNOWN" };
    return std::string("TCP ") + names[static_cast<int>(state)] + " - " + std::string(text)
        + (performance.empty() ? "" : "|" + std::string(performance));
}

Verdict ofOutcome(const TcpProbe::Outcome &outcome, std::string_view device, std::string_view port,
    const Policy &policy, const std::optional<std::string> &unexpected)
{
    using TcpProbe::Failure;
    if (!outcome.accepted) {
        const State state = outcome.failure == Failure::Refused ? policy.refused
            : outcome.failure == Failure::LookUpFailed          ? State::Unknown
                                                                : State::Critical;
        return { state, line(state, TcpProbe::describe(outcome, policy.timeoutSeconds) + where(device, port)) };
    }
    State state = policy.critical && outcome.seconds > *policy.critical ? State::Critical
        : policy.warning && outcome.seconds > *policy.warning           ? State::Warning
                                                                        : State::Ok;
    char figures[64];
    std::snprintf(figures, sizeof figures, "%.3f second response time", outcome.seconds);
    std::string text = figures + where(device, port);
    if (unexpected) {
        // The worse of the two; UNKNOWN is never chosen here.
        state = std::max(state, policy.mismatch);
        text = "Unexpected answer \"" + shown(*unexpected) + "\" after " + text;
    }
    return { state, line(state, text, performance(outcome.seconds, policy)) };
}

} // namespace PluginLine
