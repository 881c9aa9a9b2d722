// check_ostrel: the TCP check as a monitoring engine starts any plugin, with check_tcp's options. It reads no
// environment, writes no log and needs no display.
#include "base/Version.h"
#include "plugin/PluginCheck.h"

#include <cstdio>
#include <exception>

namespace {

// Written out as main returns.
int say(const std::string &text, PluginLine::State state)
{
    std::fputs((text + '\n').c_str(), stdout);
    return static_cast<int>(state);
}

} // namespace

int main(int argc, char **argv)
{
    using PluginLine::State;
    try {
        std::string why;
        const auto options = PluginOptions::read(argc, argv, why);
        if (!options)
            return say(PluginLine::line(State::Unknown, why) + '\n' + PluginOptions::usage(), State::Unknown);
        // As every Monitoring Plugin does: help and version are no state of anything.
        if (options->ask == PluginOptions::Ask::Help)
            return say(PluginOptions::help(), State::Unknown);
        if (options->ask == PluginOptions::Ask::Version)
            return say("check_ostrel " + Version::number() + " (Ostrel)", State::Unknown);
        const PluginCheck::Result result = PluginCheck::run(*options);
        std::string text = result.verdict.line;
        for (const std::string &detail : result.details)
            text += '\n' + detail;
        return say(text, result.verdict.state);
    } catch (const std::exception &failure) {
        return say(PluginLine::line(State::Unknown, std::string("Internal error: ") + failure.what()), State::Unknown);
    } catch (...) {
        return say(PluginLine::line(State::Unknown, "Internal error"), State::Unknown);
    }
}
