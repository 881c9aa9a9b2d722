#pragma once

#include "net/TcpProbe.h"
#include "plugin/PluginLine.h"

#include <cstdint>
#include <string>

// What an unattended run says about its check, besides the result logs: the
// line on a terminal, and the one line a monitoring engine reads.
namespace Report {

struct Check {
    std::string device, port, timeout; // as typed
    bool portUsable = true; // a number within its range
    bool timeoutUsable = true;
    int16_t timeoutSeconds = 0;
    TcpProbe::Outcome outcome;
    bool passed() const { return outcome.accepted; }
    bool performed() const { return portUsable && timeoutUsable; }
};

// "Port 22 on device 10.0.0.5 is available." or "... is un-available."
std::string resultLine(const Check &check);
// Why the port was not available, as a sentence: "Connection refused.", "The port "5s" is not a number.",
// "The timeout "32768" is out of range."
std::string cause(const Check &check);
// The result line, and for an un-available port its cause.
std::string terminalLine(const Check &check);
// In the Monitoring Plugins form: "TCP OK - 0.004 second response time on 10.0.0.5 port 22|time=...",
// "TCP CRITICAL - Connection refused on 10.0.0.5 port 22", "TCP UNKNOWN - The port "5s" is not a number";
// the exit status is the state's.
PluginLine::Verdict pluginVerdict(const Check &check);
// Why a calling sequence was rejected (one of our own texts, one line).
std::string pluginLine(const std::string &rejectedWhy);

} // namespace Report
