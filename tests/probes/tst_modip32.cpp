// Numbers, ports and dotted addresses as typed; look-up and ICMP echo for real.
#include "LoopbackResolver.h"
#include "probes/modIP32.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QTest>
#include <QTimer>

#include <climits>
#include <cstring>
#include <fstream>
#include <grp.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace modIP32;

namespace {

// The child's exit, unless 2 * (echo requests on the wire) + (1 when replied).
enum ChildExit { CannotIsolate = 77, FrozeWhileWaiting = 99 };

// Child: one Ping_Host as the window sends it, in a network namespace of its own.
int echoInNamespace(const char *target, const char *pingGroupRange, const char *ignoreEcho, uid_t user)
{
    if (::unshare(CLONE_NEWNET) != 0)
        return CannotIsolate;
    const auto set
        = [](const char *path, const char *value) { return bool(std::ofstream(path) << value << std::flush); };
    const int control = ::socket(AF_INET, SOCK_DGRAM, 0);
    ifreq loopback {};
    std::strcpy(loopback.ifr_name, "lo");
    loopback.ifr_flags = IFF_UP;
    if (control < 0 || ::ioctl(control, SIOCSIFFLAGS, &loopback) != 0
        || !set("/proc/sys/net/ipv4/ping_group_range", pingGroupRange)
        || !set("/proc/sys/net/ipv4/icmp_echo_ignore_all", ignoreEcho)
        || !set("/proc/sys/net/ipv6/icmp/echo_ignore_all", ignoreEcho))
        return CannotIsolate;
    // Sees every ICMP message on the wire; opened before the user changes.
    const bool v6 = std::strchr(target, ':') != nullptr;
    const int wire = v6 ? ::socket(AF_INET6, SOCK_RAW | SOCK_NONBLOCK, IPPROTO_ICMPV6)
                        : ::socket(AF_INET, SOCK_RAW | SOCK_NONBLOCK, IPPROTO_ICMP);
    // Changing to another user drops every capability, CAP_NET_RAW included.
    if (wire < 0
        || (user != 0
            && (::setgroups(0, nullptr) != 0 || ::setresgid(user, user, user) != 0
                || ::setresuid(user, user, user) != 0)))
        return CannotIsolate;
    // Waits for replies run the event loop: a 50 ms timer keeps firing.
    int ticks = 0;
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, [&ticks] { ++ticks; });
    tick.start(50);
    QElapsedTimer clock;
    clock.start();
    const bool replied = Ping_Host(QString::fromLatin1(target), 2, 200, QStringLiteral("echo request"));
    if (!replied && clock.elapsed() >= 350 && ticks < 6)
        return FrozeWhileWaiting;
    int requests = 0;
    char message[2048];
    for (ssize_t size; (size = ::recv(wire, message, sizeof message, 0)) > 0;) {
        const ssize_t at = v6 ? 0 : (message[0] & 0x0F) * 4; // a raw IPv4 socket gets the IP header too
        requests += size > at && quint8(message[at]) == (v6 ? 128 : 8);
    }
    return 2 * requests + (replied ? 1 : 0);
}

// Settings: ping_group_range, echo ignored, user; then the echo requests seen on the wire and whether one was answered.
struct EchoCase {
    QString target;
    QStringList settings;
    int requests;
    bool replied;
};
struct DottedCase {
    QString text;
    bool dotted;
    quint32 packed;
}; // packed: first part in the lowest byte; 0: none

} // namespace

Q_DECLARE_METATYPE(EchoCase)
Q_DECLARE_METATYPE(DottedCase)

class TestModIP32 : public QObject {
    Q_OBJECT
    bool m_resolverConfined = false;
    QString m_resolverWhy;

private slots:
    void initTestCase()
    {
        m_resolverConfined = LoopbackResolver::confine(&m_resolverWhy, { "127.0.0.1", "::1 v6only.test", {} });
    }

    void lookUpAndEchoOnLoopback()
    {
        QCOMPARE(Get_HostIP(QStringLiteral(" localhost ")), QStringLiteral("127.0.0.1")); // trimmed, IPv4 first
        // Linux would answer an echo to 0.0.0.0 or :: from the local host.
        QVERIFY(!Ping_Host(QStringLiteral("0.0.0.0"), 2, 200, QStringLiteral("echo request")));
        QVERIFY(!Ping_Host(QStringLiteral("::"), 2, 200, QStringLiteral("echo request")));
        if (!m_resolverConfined)
            QSKIP(qPrintable(QStringLiteral("a look-up that fails would ask the network: ") + m_resolverWhy));
        QCOMPARE(Get_HostIP(QStringLiteral("nohost.invalid")), QString());
        QCOMPARE(Get_HostIP(QStringLiteral("v6only.test")), QStringLiteral("::1"));
        QVERIFY(Ping_Host(QStringLiteral("v6only.test"), 2, 200, QStringLiteral("echo request")));
    }

    void echoInOwnNamespace_data()
    {
        QTest::addColumn<EchoCase>("c");
        // Root has raw sockets; nobody (65534) has only what ping_group_range allows.
        for (const QString &target : { QStringLiteral("127.0.0.1"), QStringLiteral("::1") }) {
            QTest::addRow("%s: root, raw", qPrintable(target)) << EchoCase { target, { "1 0", "0", "0" }, 1, true };
            QTest::addRow("%s: root, own requests are no replies", qPrintable(target))
                << EchoCase { target, { "1 0", "1", "0" }, 2, false };
            QTest::addRow("%s: nobody, datagram socket", qPrintable(target))
                << EchoCase { target, { "0 65534", "0", "65534" }, 1, true };
            QTest::addRow("%s: nobody, no ICMP socket", qPrintable(target))
                << EchoCase { target, { "1 0", "0", "65534" }, 0, false };
        }
    }

    void echoInOwnNamespace()
    {
        QFETCH(EchoCase, c);
        if (::geteuid() != 0)
            QSKIP("making a network namespace needs root");

        QProcess child;
        child.start(QCoreApplication::applicationFilePath(),
            QStringList { QStringLiteral("--echo-in-namespace"), c.target } + c.settings);
        QVERIFY(child.waitForFinished(30000));
        QCOMPARE(child.exitStatus(), QProcess::NormalExit);
        if (child.exitCode() == CannotIsolate)
            QSKIP("no network namespace could be made here");
        QCOMPARE(child.exitCode(), 2 * c.requests + (c.replied ? 1 : 0));
    }

    void dottedAddress_data()
    {
        QTest::addColumn<DottedCase>("c");
        QTest::newRow("address") << DottedCase { "192.168.1.10", true, 0x0A01A8C0u };
        QTest::newRow("three parts") << DottedCase { "192.168.1", false, 0u };
        QTest::newRow("no range check: lowest 8 bits") << DottedCase { "999.1.1.1", true, 0x010101E7u };
        QTest::newRow("five parts, rest reads as 4.5") << DottedCase { "1.2.3.4.5", true, 0u };
        QTest::newRow("six parts") << DottedCase { "1.2.3.4.5.6", false, 0u };
        QTest::newRow("blanks around parts") << DottedCase { " 1 . 2 .3. 4 ", true, 0x04030201u };
        QTest::newRow("a dot at the first character is skipped") << DottedCase { ".1.2.3.4", true, 0u };
        QTest::newRow("line feed after the address") << DottedCase { "10.0.0.1\n", false, 0u };
    }

    void dottedAddress()
    {
        QFETCH(DottedCase, c);
        QCOMPARE(Is_IPAddress(c.text), c.dotted);
        QCOMPARE(IP_ToLong(c.text), c.packed);
    }
};

int main(int argc, char **argv)
{
    QCoreApplication application(argc, argv);
    // _Exit: no leak check, which cannot stop the world once the user changed.
    if (argc == 6 && std::strcmp(argv[1], "--echo-in-namespace") == 0)
        std::_Exit(echoInNamespace(argv[2], argv[3], argv[4], static_cast<uid_t>(std::atoi(argv[5]))));
    TestModIP32 test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_modip32.moc"
