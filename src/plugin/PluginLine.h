#pragma once

#include "net/TcpProbe.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// The one line a monitoring engine reads of a check, in the Monitoring Plugins' form, for both plugin forms:
// check_ostrel, and the calling sequence run with OSTREL_EXIT_STATUS=plugin.
namespace PluginLine {

// The engines' states; each is the exit status as well.
enum class State { Ok = 0, Warning = 1, Critical = 2, Unknown = 3 };

// The most of one typed text (a device, a port) a line shows, in bytes.
inline constexpr size_t kLongestText = 100;

// A typed text as a line shows it: control characters and "|" (which would start the performance data) as blanks,
// cut after kLongestText bytes with "..." added.
std::string shown(std::string_view text);

// " on 10.0.0.5 port 22", each text shown().
std::string where(std::string_view device, std::string_view port);

// "TCP CRITICAL - <text>", then "|" and the performance data when there are any.
std::string line(State state, std::string_view text, std::string_view performance = {});

// What decides the state besides the outcome.
struct Policy {
    std::optional<double> warning, critical; // response times (seconds) above which the state is WARNING, CRITICAL
    State refused = State::Critical;
    State mismatch = State::Warning; // the service's first bytes lacked what was expected
    int16_t timeoutSeconds = 0; // the time limit as the probe reads it (0: 15 s)
};

struct Verdict {
    State state = State::Unknown;
    std::string line;
};

// "TCP OK - 0.004 second response time on 10.0.0.5 port 22|time=0.004123s;;;0.000000;15.000000",
// "TCP CRITICAL - Connection refused on 10.0.0.5 port 22", "TCP UNKNOWN - The name could not be looked up on ...".
// `unexpected`: the first bytes of an accepted connection, when they lacked what was expected.
Verdict ofOutcome(const TcpProbe::Outcome &outcome, std::string_view device, std::string_view port,
    const Policy &policy, const std::optional<std::string> &unexpected = std::nullopt);

} // namespace PluginLine
