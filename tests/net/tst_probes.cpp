// The probes against real peers on loopback, and the ICMP echo in a child in a network namespace of its own.
#include "Check.h"
#include "LoopbackPeers.h"
#include "net/FtpProbe.h"
#include "net/TcpProbe.h"
#include "net/modIP32.h"

#include <atomic>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <grp.h>
#include <netinet/in.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using Clock = std::chrono::steady_clock;

namespace {

std::vector<Address> device(const std::string &name, int ms = 5000)
{
    return Addresses::ofDevice(name, Wait::after(ms), Wait::polling()).addresses;
}

// This test run again with the arguments (a shell's words): its exit code, 77 when it had no network namespace.
int child(const std::string &arguments)
{
    const int status
        = std::system((std::filesystem::read_symlink("/proc/self/exe").string() + " --child " + arguments).c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
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
        const long long elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count(),
                        cpu = (std::clock() - cpuBefore) * 1000 / CLOCKS_PER_SEC;
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

// The anonymous logon against a server of our own: what it hears (each line, then "|") and makes of its replies.
CHECK_TEST(ftpLogon)
{
    const struct {
        const char *greeting;
        std::vector<std::string> replies;
        int result;
        std::string heard;
    } rows[] = { { "120 in a minute\r\n220 ready", { "331 password", "230 in" }, FtpProbe::LoggedOn,
                     "USER anonymous|PASS guestpass|QUIT|" },
        { "220 ready", { "230 in" }, FtpProbe::LoggedOn, "USER anonymous|QUIT|" },
        { "220 ready", { "530 not you" }, 530, "USER anonymous|QUIT|" },
        { "SSH-2.0-OpenSSH", {}, FtpProbe::NotFtp, "QUIT|" } };
    for (const auto &row : rows) {
        LoopbackPort server = LoopbackPort::open();
        std::string heard;
        std::thread peer([&] {
            const int fd = server.accept(5000);
            auto reply = row.replies.begin();
            std::string line = row.greeting;
            for (char c = '\n'; fd >= 0; heard += c == '\n' ? "|" : c == '\r' ? "" : std::string(1, c)) {
                if (c == '\n' && !line.empty()) // a reply to each line, until the probe closes
                    ::send(fd, (line + "\r\n").data(), line.size() + 2, MSG_NOSIGNAL);
                if (c == '\n')
                    line = reply != row.replies.end() ? *reply++ : "";
                if (::recv(fd, &c, 1, 0) != 1)
                    break;
            }
        });
        CHECK_EQ(FtpProbe::logOn(device("127.0.0.1"), "anonymous", "guestpass", 2, Wait::polling(), server.port()),
            row.result, row.greeting);
        peer.join();
        CHECK_EQ(heard, row.heard, row.greeting);
    }
}

CHECK_TEST(addresses)
{
    // The dotted shape, which spares a look-up: no range check, and a fifth part reads as a fraction.
    const std::pair<std::string, bool> rows[]
        = { { "192.168.1.10", true }, { "192.168.1", false }, { "999.1.1.1", true }, { "1.2.3.4.5", true },
              { "1.2.3.4.5.6", false }, { " 1 . 2 .3. 4 ", true }, { ".1.2.3.4", true }, { "10.0.0.1\n", false } };
    for (const auto &[text, dotted] : rows)
        CHECK_EQ(modIP32::Is_IPAddress(text), dotted, text);
    CHECK_EQ(modIP32::Get_HostIP(" localhost "), "127.0.0.1");
    // Linux would answer an echo to 0.0.0.0 or :: from the local host; 999.1.1.1 is no address to ping.
    for (const char *nowhere : { "0.0.0.0", "::", "999.1.1.1" })
        CHECK(!modIP32::Ping_Host(nowhere, 2, 200, "echo request"), nowhere);
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
            const int code = child(std::string(target) + " '" + row.range + "' " + row.ignore + ' ' + row.user);
            const std::string name = std::string(target) + " " + row.range + " " + row.user;
            if (code == 77)
                Check::skip("echo " + name + ": no network namespace of its own");
            else
                CHECK_EQ(code, 2 * row.requests + row.replied, name);
        }
    }
}

int main(int argc, char **argv)
{
    if (argc == 6 && std::strcmp(argv[1], "--child") == 0) // loopback of its own, up
        return ::unshare(CLONE_NEWNET) == 0 && std::system("ip link set lo up") == 0
            ? echo(argv[2], argv[3], argv[4], static_cast<uid_t>(std::atoi(argv[5])))
            : 77;
    return Check::run(argc, argv);
}
