#include "plugin/PluginOptions.h"

#include "base/TextRules.h"
#include "base/Version.h"

#include <getopt.h>

namespace {

// \n, \r, \t and \\ as the characters they stand for; any other backslash stays.
std::string unescaped(const std::string &text)
{
    std::string bytes;
    for (size_t i = 0; i < text.size(); ++i) {
        const char next = i + 1 < text.size() ? text[i + 1] : '\0';
        const char meant = next == 'n' ? '\n' : next == 'r' ? '\r' : next == 't' ? '\t' : next == '\\' ? '\\' : 0;
        if (text[i] == '\\' && meant) {
            bytes += meant;
            ++i;
        } else {
            bytes += text[i];
        }
    }
    return bytes;
}

std::optional<PluginLine::State> state(const std::string &text)
{
    if (text == "ok")
        return PluginLine::State::Ok;
    if (text == "warn")
        return PluginLine::State::Warning;
    if (text == "crit")
        return PluginLine::State::Critical;
    return std::nullopt;
}

} // namespace

std::optional<PluginOptions> PluginOptions::read(int argc, char **argv, std::string &why)
{
    static const option longOptions[] = { { "hostname", required_argument, nullptr, 'H' },
        { "port", required_argument, nullptr, 'p' }, { "timeout", required_argument, nullptr, 't' },
        { "warning", required_argument, nullptr, 'w' }, { "critical", required_argument, nullptr, 'c' },
        { "use-ipv4", no_argument, nullptr, '4' }, { "use-ipv6", no_argument, nullptr, '6' },
        { "refuse", required_argument, nullptr, 'r' }, { "mismatch", required_argument, nullptr, 'M' },
        { "send", required_argument, nullptr, 's' }, { "expect", required_argument, nullptr, 'e' },
        { "quit", required_argument, nullptr, 'q' }, { "escape", no_argument, nullptr, 'E' },
        { "verbose", no_argument, nullptr, 'v' }, { "help", no_argument, nullptr, 'h' },
        { "version", no_argument, nullptr, 'V' }, { nullptr, 0, nullptr, 0 } };
    PluginOptions options;
    bool escapes = false, portGiven = false;
    const auto fail = [&why](std::string text) {
        why = std::move(text);
        return std::nullopt;
    };
    const auto seconds = [](const char *text) {
        const auto value = TextRules::toNumber(text);
        return value && *value >= 0 ? value : std::nullopt;
    };
    ::opterr = 0; // our own words, on standard output where the engine reads them
    ::optind = 0;
    for (int letter; (letter = ::getopt_long(argc, argv, ":H:p:t:w:c:46r:M:s:e:q:EvhV", longOptions, nullptr)) != -1;) {
        const std::string value = ::optarg ? ::optarg : "";
        switch (letter) {
        case 'H':
            options.host = value;
            break;
        case 'p': {
            const auto port = TextRules::toWholeNumber(value, 1, 65535);
            if (!port)
                return fail("the port \"" + value + "\" is not a number from 1 to 65535");
            options.port = static_cast<uint16_t>(*port);
            portGiven = true;
            break;
        }
        case 't': {
            const auto timeout = TextRules::toWholeNumber(value, 1, 32767);
            if (!timeout)
                return fail("the timeout \"" + value + "\" is not a number of seconds from 1 to 32767");
            options.timeoutSeconds = static_cast<int16_t>(*timeout);
            break;
        }
        case 'w':
        case 'c':
            if (!seconds(value.c_str()))
                return fail(std::string(letter == 'w' ? "the warning" : "the critical") + " time \"" + value
                    + "\" is not a number of seconds");
            (letter == 'w' ? options.warning : options.critical) = seconds(value.c_str());
            break;
        case '4':
        case '6':
            options.family = letter == '4' ? AF_INET : AF_INET6;
            break;
        case 'r':
        case 'M': {
            const auto chosen = state(value);
            if (!chosen)
                return fail(std::string("-") + char(letter) + " takes ok, warn or crit, not \"" + value + '"');
            (letter == 'r' ? options.refused : options.mismatch) = *chosen;
            break;
        }
        case 's':
            options.send = value;
            break;
        case 'e':
            options.expect.push_back(value);
            break;
        case 'q':
            options.quit = value;
            break;
        case 'E':
            escapes = true;
            break;
        case 'v':
            ++options.verbose;
            break;
        case 'h':
        case 'V':
            options.ask = letter == 'h' ? Ask::Help : Ask::Version;
            return options;
        case ':':
            return fail(std::string("-") + char(::optopt) + " needs a value");
        default:
            return fail(::optopt ? std::string("unknown option -") + char(::optopt)
                                 : "unknown option " + std::string(argv[::optind - 1]));
        }
    }
    // An engine's empty macro ('$ARG2$' with nothing in it) is no argument.
    for (int extra = ::optind; extra < argc; ++extra) {
        if (*argv[extra])
            return fail(std::string("unexpected argument \"") + argv[extra] + '"');
    }
    if (TextRules::isBlank(options.host))
        return fail("the host is missing (-H)");
    if (!portGiven)
        return fail("the port is missing (-p)");
    if (escapes) {
        options.send = unescaped(options.send);
        options.quit = unescaped(options.quit);
    } else if (!options.quit.empty()) {
        options.quit += "\r\n";
    }
    return options;
}

const char *PluginOptions::usage()
{
    // No "|": an engine would read what follows it as performance data.
    return "Usage: check_ostrel -H host -p port [-t seconds] [-w seconds] [-c seconds] [-4] [-6] [-r state]\n"
           "       [-E] [-s text] [-e text]... [-M state] [-q text] [-v]   (state: ok, warn or crit)";
}

std::string PluginOptions::help()
{
    return "check_ostrel " + Version::number() + " (Ostrel)\n" + usage()
        + "\n\nDoes the host accept a TCP connection on the port, and how fast? One line for a monitoring engine,\n"
          "exit status 0 OK, 1 WARNING, 2 CRITICAL, 3 UNKNOWN.\n\n"
          " -H, --hostname=ADDRESS   host name, IPv4 or IPv6 address\n"
          " -p, --port=INTEGER       TCP port, 1 to 65535\n"
          " -t, --timeout=INTEGER    seconds for the whole check: look-up, connect, answer (default 10)\n"
          " -w, --warning=DOUBLE     response time in seconds above which the state is WARNING\n"
          " -c, --critical=DOUBLE    response time in seconds above which the state is CRITICAL\n"
          " -4, --use-ipv4           IPv4 addresses only\n"
          " -6, --use-ipv6           IPv6 addresses only\n"
          " -r, --refuse=STATE       the state of a refused connection: ok, warn or crit (default crit)\n"
          " -s, --send=STRING        sent once connected\n"
          " -e, --expect=STRING      what the service's first bytes must hold (may be repeated: any one)\n"
          " -M, --mismatch=STATE     the state when they do not: ok, warn or crit (default warn)\n"
          " -q, --quit=STRING        sent before closing (CR LF added unless -E)\n"
          " -E, --escape             \\n, \\r, \\t and \\\\ in -s and -q stand for those characters\n"
          " -v, --verbose            further lines: the addresses tried, the answer read\n"
          " -h, --help               this text\n"
          " -V, --version            the version\n\n"
          "The response time runs from the start of the connect to the connection being accepted, with -s or -e to\n"
          "the answer being read. A name that does not exist is CRITICAL; a name the resolver could not look up\n"
          "is UNKNOWN. See check_ostrel(1).";
}
