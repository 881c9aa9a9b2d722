#pragma once

#include "plugin/PluginLine.h"

#include <cstdint>
#include <optional>
#include <string>
#include <sys/socket.h>
#include <vector>

// check_ostrel's options, in the Monitoring Plugins' conventions (short and long forms, check_tcp's letters).
struct PluginOptions {
    enum class Ask { Check, Help, Version };
    Ask ask = Ask::Check;
    std::string host;
    uint16_t port = 0;
    int16_t timeoutSeconds = 10;
    std::optional<double> warning, critical; // response time in seconds
    int family = AF_UNSPEC; // -4: AF_INET, -6: AF_INET6
    PluginLine::State refused = PluginLine::State::Critical;
    PluginLine::State mismatch = PluginLine::State::Warning;
    std::string send, quit; // as sent: escapes read with -E; without it the quit text ends in CR LF
    std::vector<std::string> expect; // any one of them in the service's first bytes will do
    int verbose = 0;

    // The options of a command line; nothing, with `why` said, when they cannot be used.
    static std::optional<PluginOptions> read(int argc, char **argv, std::string &why);
    // "Usage: check_ostrel -H host -p port [...]"
    static const char *usage();
    static std::string help();
};
