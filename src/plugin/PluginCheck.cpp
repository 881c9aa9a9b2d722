#include "plugin/PluginCheck.h"

#include "net/Addresses.h"
#include "net/TcpProbe.h"

#include <algorithm>
#include <unistd.h>

namespace PluginCheck {

namespace {

    // More than any banner; a service that keeps talking is not read for ever.
    constexpr size_t kLongestAnswer = 65536;

} // namespace

Result run(const PluginOptions &options, Wait::Waiter &waiter)
{
    const Wait::Deadline deadline = Wait::after(options.timeoutSeconds * 1000LL);
    const std::string port = std::to_string(options.port);
    PluginLine::Policy policy { options.warning, options.critical, options.refused, options.mismatch,
        options.timeoutSeconds };
    Result result;
    Addresses::LookUp found = Addresses::ofDevice(options.host, deadline, waiter);
    auto &addresses = found.addresses;
    if (options.family != AF_UNSPEC) {
        addresses.erase(std::remove_if(addresses.begin(), addresses.end(),
                            [&](const Address &address) { return address.family() != options.family; }),
            addresses.end());
        if (addresses.empty() && found.found == Addresses::Found::Addresses) {
            const char *family = options.family == AF_INET ? "No IPv4 address" : "No IPv6 address";
            result.verdict = { PluginLine::State::Critical,
                PluginLine::line(PluginLine::State::Critical, family + PluginLine::where(options.host, port)) };
            return result;
        }
    }
    if (options.verbose) {
        std::string tried = "addresses:";
        for (const Address &address : addresses)
            tried += ' ' + address.text();
        result.details.push_back(tried);
    }
    TcpProbe::Outcome outcome;
    outcome.failure = TcpProbe::failureOf(found.found);
    std::optional<std::string> unexpected;
    const auto start = Wait::Clock::now();
    const int fd = addresses.empty() ? -1 : TcpProbe::connectAny(addresses, options.port, deadline, waiter, outcome);
    if (fd >= 0) {
        outcome.accepted = true;
        outcome.failure = TcpProbe::Failure::None;
        const auto expected = [&](std::string_view answer) {
            return std::any_of(options.expect.begin(), options.expect.end(),
                [answer](const std::string &text) { return answer.find(text) != std::string_view::npos; });
        };
        if (!options.send.empty() || !options.expect.empty()) {
            const std::string answer = TcpProbe::firstBytes(
                fd, options.send, [&](std::string_view read) { return options.expect.empty() || expected(read); },
                kLongestAnswer, deadline, waiter);
            if (!options.expect.empty() && !expected(answer))
                unexpected = answer;
            if (options.verbose)
                result.details.push_back("answer: " + PluginLine::shown(answer));
        }
        outcome.seconds = std::chrono::duration<double>(Wait::Clock::now() - start).count();
        if (!options.quit.empty())
            TcpProbe::sendAll(fd, options.quit, deadline, waiter);
        ::close(fd);
    }
    result.verdict = PluginLine::ofOutcome(outcome, options.host, port, policy, unexpected);
    return result;
}

} // namespace PluginCheck
