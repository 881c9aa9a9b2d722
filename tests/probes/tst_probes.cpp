// The probes against real peers on loopback: the TCP connect, the FTP logon, name look-ups, the ICMP echo.
// What needs a network namespace of its own (no route, an IPv6 zone, echo as another user) runs in a child.
#include "Check.h"
#include "LoopbackPeers.h"
#include "LoopbackResolver.h"
#include "probes/FtpProbe.h"
#include "probes/TcpProbe.h"
#include "probes/modIP32.h"

#include <cstring>
#include <ctime>
#include <fstream>
#include <grp.h>
#include <netinet/in.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

using Clock = std::chrono::steady_clock;
using TcpProbe::Failure;

namespace {

std::string g_unconfined; // why look-ups could not be kept off the machine's resolver
const std::string kLongName(253, 'n');

long long msSince(Clock::time_point start)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

std::vector<Address> device(const std::string &name, int ms = 5000)
{
    return Addresses::ofDevice(name, Wait::after(ms), Wait::polling()).addresses;
}

// Runs this test again with the arguments, in a network namespace of its own; its exit code, 77 when none can be made.
int child(const std::vector<std::string> &arguments)
{
    std::vector<char *> argv { const_cast<char *>("/proc/self/exe"), const_cast<char *>("--child") };
    for (const std::string &argument : arguments)
        argv.push_back(const_cast<char *>(argument.c_str()));
    argv.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool loopbackUp()
{
    return ::unshare(CLONE_NEWNET) == 0
        && std::system("ip link set lo up && ip -6 addr add fe80::1/64 dev lo nodad") == 0;
}

// Child: where there is no route, TCP and FTP give up at once, not after their 3 s.
int noRoute()
{
    for (const char *host : { "192.0.2.55", "2001:db8::55" }) {
        const auto start = Clock::now();
        const auto outcome = TcpProbe::Check_Socket(device(host), 22, 3);
        const int logon = FtpProbe::logOn(device(host), "anonymous", "guestpass", 3);
        if (outcome.failure != Failure::NoRoute || logon != FtpProbe::NoConnection || msSince(start) > 500)
            return 1;
    }
    return 0;
}

// Child: a link-local address with its zone, by name or number, as given and in brackets.
int zone()
{
    const LoopbackPort port = LoopbackPort::open("fe80::1%lo");
    for (const char *host : { "fe80::1%lo", "[fe80::1%lo]", "fe80::1%1" }) {
        if (!TcpProbe::Check_Socket(device(host), port.port(), 2).accepted)
            return 1;
    }
    return modIP32::Get_HostIP("fe80::1%1") == "fe80::1%lo" ? 0 : 2;
}

// Child: one Ping_Host as the window sends it; 2 × (echo requests on the wire) + (1 when answered).
int echo(const char *target, const char *pingGroupRange, const char *ignore, uid_t user)
{
    const auto set
        = [](const char *path, const char *value) { return bool(std::ofstream(path) << value << std::flush); };
    const bool v6 = std::strchr(target, ':') != nullptr;
    if (!set("/proc/sys/net/ipv4/ping_group_range", pingGroupRange)
        || !set("/proc/sys/net/ipv4/icmp_echo_ignore_all", ignore)
        || !set("/proc/sys/net/ipv6/icmp/echo_ignore_all", ignore))
        return 77;
    // Sees every ICMP message on the wire; opened before the user changes, which drops CAP_NET_RAW.
    const int wire = v6 ? ::socket(AF_INET6, SOCK_RAW | SOCK_NONBLOCK, IPPROTO_ICMPV6)
                        : ::socket(AF_INET, SOCK_RAW | SOCK_NONBLOCK, IPPROTO_ICMP);
    if (wire < 0
        || (user != 0
            && (::setgroups(0, nullptr) != 0 || ::setresgid(user, user, user) != 0
                || ::setresuid(user, user, user) != 0)))
        return 77;
    const bool replied = modIP32::Ping_Host(target, 2, 200, "echo request");
    int requests = 0;
    char message[2048];
    for (ssize_t size; (size = ::recv(wire, message, sizeof message, 0)) > 0;) {
        const ssize_t at = v6 ? 0 : (message[0] & 0x0F) * 4; // a raw IPv4 socket gets the IP header too
        requests += size > at && uint8_t(message[at]) == (v6 ? 128 : 8);
    }
    return 2 * requests + replied;
}

} // namespace

CHECK_TEST(tcpOutcome)
{
    if (!g_unconfined.empty())
        return void(std::cerr << "skipped: " << g_unconfined << '\n');
    // Names: both.test also names ::1, where nothing listens; refusing.test names first an address that refuses.
    const struct {
        std::string host, kind; // kind: open, open6, refused, blackholed
        int timeout;
        Failure failure;
        long long ms; // how long the verdict may take at most
    } rows[] = {
        { "127.0.0.1", "open", 5, Failure::None, 300 },
        { "127.0.0.1", "refused", 5, Failure::Refused, 300 },
        { "127.0.0.1", "blackholed", -1, Failure::NoAnswer, 800 }, // only the command line gives a limit below 1
        { "127.0.0.1", "open", 0, Failure::None, 300 },
        { "127.000.000.001", "open", 5, Failure::None, 300 },
        { "   ", "open", 5, Failure::NoSuchHost, 300 },
        { "[::1]", "open6", 5, Failure::None, 300 },
        { "v6only.test", "open6", 5, Failure::None, 300 },
        { "both.test", "open", 5, Failure::None, 300 },
        { "refusing.test", "open", 5, Failure::None, 300 },
        // Never handed to the resolver, which would not answer.
        { "999.1.1.1", "open", 5, Failure::NoSuchHost, 300 },
        { kLongName + std::string(9747, 'n'), "open", 5, Failure::NoSuchHost, 300 },
    };
    TcpProbe::setFallbackMs(500);
    for (const auto &row : rows) {
        const std::string on = row.kind == "open6" ? "::1" : row.host == "refusing.test" ? "127.0.0.2" : "127.0.0.1";
        LoopbackPort port = row.kind == "refused" ? LoopbackPort::refused(on)
            : row.kind == "blackholed"            ? LoopbackPort::blackholed(on)
                                                  : LoopbackPort::open(on);
        const auto start = Clock::now();
        const auto addresses = device(row.host);
        const auto outcome = TcpProbe::Check_Socket(addresses, port.port(), int16_t(row.timeout));
        const std::string name = row.host.substr(0, 20) + " " + row.kind;
        CHECK_EQ(int(outcome.failure), int(row.failure), name);
        CHECK(msSince(start) < row.ms && (row.kind != "blackholed" || msSince(start) >= 450), name);
        if (row.host == "refusing.test")
            CHECK_EQ(addresses.front().text(), "127.0.0.1", "the refusing address comes first");
        if (outcome.accepted) // the connection it made is closed again
            CHECK(peerClosed(port.accept(5000), 5000), name);
    }
    CHECK(device(kLongName).size() == 1, "a name as long as DNS allows is looked up");
    CHECK_EQ(int(TcpProbe::Check_Socket(device("127.0.0.1"), 0, 5).failure), int(Failure::PortZero));
}

// A peer that never completes what a probe waits for: its time limit of 1 s holds, and the wait sleeps.
CHECK_TEST(silentPeers)
{
    const LoopbackPort tcp = LoopbackPort::blackholed();
    // An FTP server that streams one greeting line after another at full speed.
    LoopbackPort ftp = LoopbackPort::open();
    std::atomic<bool> stop { false };
    std::thread talker([&] {
        const int fd = ftp.accept(5000);
        const std::string lines = std::string(4000, 'x').insert(0, "220-") + "\r\n";
        while (fd >= 0 && !stop && ::send(fd, lines.data(), lines.size(), MSG_NOSIGNAL) > 0)
            continue;
    });
    const std::string kinds[] = { "tcp", "ftp", "lookup" };
    for (const std::string &kind : kinds) {
        if (kind == "lookup" && !g_unconfined.empty())
            continue;
        rusage before {}, after {};
        ::getrusage(RUSAGE_SELF, &before);
        const auto start = Clock::now();
        const std::clock_t cpuBefore = std::clock();
        bool answered = false;
        if (kind == "tcp")
            answered = TcpProbe::Check_Socket(device("127.0.0.1"), tcp.port(), 1).accepted;
        else if (kind == "ftp")
            answered = FtpProbe::logOn(device("127.0.0.1"), "anonymous", "guestpass", 1, Wait::polling(), ftp.port())
                != FtpProbe::NoConnection;
        else
            answered = !device("silent.test", 1000).empty();
        const long long elapsed = msSince(start), cpu = (std::clock() - cpuBefore) * 1000 / CLOCKS_PER_SEC;
        ::getrusage(RUSAGE_SELF, &after);
        CHECK(!answered, kind);
        CHECK(elapsed >= 950 && elapsed < 1300, kind + " took " + std::to_string(elapsed) + " ms");
        // A spinning wait burns it all; a streaming server is read as fast as it talks, but never kept.
        if (kind == "ftp")
            CHECK(after.ru_maxrss - before.ru_maxrss < 16 * 1024,
                "FTP kept " + std::to_string(after.ru_maxrss - before.ru_maxrss) + " KiB");
        else
            CHECK(cpu < elapsed / 4, kind + " used " + std::to_string(cpu) + " ms of CPU");
    }
    stop = true;
    talker.join();
}

CHECK_TEST(ftpDialogue)
{
    const std::string ready = "220 ready\r\n", huge(70000, 'x');
    const std::vector<std::string> both { "USER anonymous", "PASS guestpass", "QUIT" },
        userOnly { "USER anonymous", "QUIT" };
    const struct {
        std::string host, greeting;
        std::vector<std::string> replies;
        int code;
        std::vector<std::string> sent;
        std::string user = "anonymous";
    } rows[] = {
        { "127.0.0.1", ready, { "331 password please\r\n", "230 welcome\r\n" }, 0, both },
        { "::1", ready, { "230 welcome\r\n" }, 0, userOnly },
        { "127.0.0.1", "220-first line\n220-second line\r\n 220 not the end\n220 ready\r\n",
            { "331 password please\n", "230-welcome\n230 logged in\r\n" }, 0, both },
        { "127.0.0.1", "120 ready in 1 minute\r\n220 ready\r\n", { "230 welcome\r\n" }, 0, userOnly },
        { "127.0.0.1", ready, { "331 password please\r\n", "530 not allowed\r\n" }, 530, both },
        { "127.0.0.1", "SSH-2.0-OpenSSH_9.2\r\n", {}, FtpProbe::NotFtp, { "QUIT" } },
        // Line breaks in the user name stay inside its one line.
        { "127.0.0.1", ready, { "530 go away\r\n" }, 530, { "USER anonymousDELE x", "QUIT" }, "anonymous\r\nDELE x" },
        // A line no FTP reply comes near, its line feed in the same read.
        { "127.0.0.1", "220-" + huge + "\r\n220 ready\r\n", {}, FtpProbe::NotFtp, { "QUIT" } },
    };
    for (const auto &row : rows) {
        ScriptedPeer server(row.greeting, row.replies, row.host);
        CHECK_EQ(FtpProbe::logOn(device(row.host), row.user, "guestpass", 5, Wait::polling(), server.port()), row.code,
            row.greeting.substr(0, 30));
        const auto sent = server.received(5000);
        CHECK_EQ(sent.size(), row.sent.size(), row.greeting.substr(0, 30));
        for (size_t i = 0; i < sent.size() && i < row.sent.size(); ++i)
            CHECK_EQ(sent[i], row.sent[i]);
    }
}

CHECK_TEST(addresses)
{
    const struct {
        std::string text;
        bool dotted;
        uint32_t packed; // first part in the lowest byte; 0: none
    } rows[] = {
        { "192.168.1.10", true, 0x0A01A8C0u },
        { "192.168.1", false, 0u },
        { "999.1.1.1", true, 0x010101E7u },
        { "1.2.3.4.5", true, 0u },
        { "1.2.3.4.5.6", false, 0u },
        { " 1 . 2 .3. 4 ", true, 0x04030201u },
        { ".1.2.3.4", true, 0u },
        { "10.0.0.1\n", false, 0u },
    };
    for (const auto &row : rows) {
        CHECK_EQ(modIP32::Is_IPAddress(row.text), row.dotted, row.text);
        CHECK_EQ(modIP32::IP_ToLong(row.text), row.packed, row.text);
    }
    CHECK_EQ(modIP32::Get_HostIP(" localhost "), "127.0.0.1");
    // Linux would answer an echo to 0.0.0.0 or :: from the local host; 999.1.1.1 is no address to ping.
    for (const char *nowhere : { "0.0.0.0", "::", "999.1.1.1" })
        CHECK(!modIP32::Ping_Host(nowhere, 2, 200, "echo request"), nowhere);
    if (!g_unconfined.empty())
        return;
    CHECK_EQ(modIP32::Get_HostIP("nohost.invalid"), "");
    CHECK_EQ(modIP32::Get_HostIP("v6only.test"), "::1");
}

// The echo as the window sends it: root has raw sockets, nobody (65534) only what ping_group_range allows.
CHECK_TEST(echoes)
{
    const struct {
        const char *range, *ignore, *user;
        int requests;
        bool replied;
    } rows[] = { { "1 0", "0", "0", 1, true }, { "1 0", "1", "0", 2, false }, { "0 65534", "0", "65534", 1, true },
        { "1 0", "0", "65534", 0, false } };
    for (const char *target : { "127.0.0.1", "::1" }) {
        for (const auto &row : rows) {
            const int code = child({ "echo", target, row.range, row.ignore, row.user });
            if (code != 77)
                CHECK_EQ(code, 2 * row.requests + row.replied, std::string(target) + " " + row.range + " " + row.user);
        }
    }
}

CHECK_TEST(namespaces)
{
    for (const char *what : { "no-route", "zone" }) {
        const int code = child({ what });
        if (code != 77)
            CHECK_EQ(code, 0, what);
    }
}

int main(int argc, char **argv)
{
    if (argc >= 3 && std::strcmp(argv[1], "--child") == 0) {
        if (!loopbackUp())
            return 77;
        const std::string what = argv[2];
        if (what == "echo" && argc == 7)
            return echo(argv[3], argv[4], argv[5], static_cast<uid_t>(std::atoi(argv[6])));
        return what == "no-route" ? noRoute() : zone();
    }
    // Any name not in our hosts file goes to a name server that never answers.
    const std::string server = LoopbackResolver::silentNameServer();
    const std::string hosts = "::1 v6only.test\n127.0.0.1 both.test\n::1 both.test\n127.0.0.2 refusing.test\n127.0.0.1 "
                              "refusing.test\n127.0.0.1 "
        + kLongName;
    if (server.empty() || !LoopbackResolver::confine(&g_unconfined, { server, hosts, "timeout:2 attempts:1" }))
        g_unconfined += " (no silent name server)";
    return Check::run(argc, argv);
}
