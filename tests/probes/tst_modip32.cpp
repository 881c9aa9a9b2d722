// Address packing, sockets start-up, host look-up and ICMP echo: the rules as
// a stand-in for the system's services sees them, the echo itself on
// loopback and in network namespaces of our own.
#include "LoopbackResolver.h"
#include "probes/IP32Platform.h"
#include "probes/modIP32.h"

#include <QFile>
#include <QProcess>
#include <QTest>

#include <cstring>
#include <grp.h>
#include <net/if.h>
#include <sched.h>
#include <stdexcept>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace modIP32;

namespace {

// The system's services as a test plays them, for the echo's rules: sockets
// start (unless `fault` is "version 1.0"), only "device" resolves, to
// 10.0.7.200, and the request numbered replyOn (from 1) gets a reply; with
// the fault "echo throws" every request fails.
class StandIn : public Platform
{
public:
    StandIn(const QString &fault, int replyOn) : m_fault(fault), m_replyOn(replyOn) {}

    QStringList sent;   // "address payload wait" per echo request
    int open = 0;       // started and not cleaned up

    int WSAStartup(quint16, WSAData &data) override
    {
        ++open;
        data.wVersion = m_fault == QLatin1String("version 1.0") ? 0x0001 : kSocketsVersion;
        data.iMaxSockets = 100;
        return 0;
    }
    int WSACleanup() override { return --open; }
    std::optional<HostEnt> gethostbyname(const QByteArray &name) override
    {
        if (name != "device")
            return std::nullopt;
        return HostEnt{4, {QByteArray("\x0a\x00\x07\xc8", 4), QByteArray("\x09\x09\x09\x09", 4)}};
    }
    EchoHandle IcmpCreateFile() override { return 7; }
    quint32 IcmpSendEcho(EchoHandle, quint32 address, const QByteArray &data, QByteArray &, quint32 wait) override
    {
        sent << QStringLiteral("%1 %2 %3")
                    .arg(address, 8, 16, QLatin1Char('0'))
                    .arg(QString::fromLatin1(data))
                    .arg(wait);
        if (m_fault == QLatin1String("echo throws"))
            throw std::runtime_error("echo throws");
        return sent.size() == m_replyOn ? 1 : 0;
    }
    bool IcmpCloseHandle(EchoHandle) override { return true; }

private:
    QString m_fault;
    int m_replyOn;
};

// What the child run in its own network namespace reports.
enum ChildExit { Replied = 0, NoReply = 1, CannotIsolate = 77 };

bool writeProc(const char *path, const char *value)
{
    QFile file(QString::fromLatin1(path));
    return file.open(QIODevice::WriteOnly) && file.write(value) > 0 && file.flush();
}

// Child: in a network namespace of its own, with these echo settings and as
// this user, one Ping_Host to `target` as the window sends it.
int echoInNamespace(const char *target, const char *pingGroupRange, const char *ignoreEcho, uid_t user)
{
    if (::unshare(CLONE_NEWNET) != 0)
        return CannotIsolate;
    const int control = ::socket(AF_INET, SOCK_DGRAM, 0);
    ifreq loopback{};
    std::strcpy(loopback.ifr_name, "lo");
    if (control < 0 || ::ioctl(control, SIOCGIFFLAGS, &loopback) != 0)
        return CannotIsolate;
    loopback.ifr_flags |= IFF_UP | IFF_RUNNING;
    if (::ioctl(control, SIOCSIFFLAGS, &loopback) != 0)
        return CannotIsolate;
    ::close(control);
    if (!writeProc("/proc/sys/net/ipv4/ping_group_range", pingGroupRange)
        || !writeProc("/proc/sys/net/ipv4/icmp_echo_ignore_all", ignoreEcho)
        || !writeProc("/proc/sys/net/ipv6/icmp/echo_ignore_all", ignoreEcho))
        return CannotIsolate;
    // Changing to another user drops every capability, CAP_NET_RAW included.
    if (user != 0
        && (::setgroups(0, nullptr) != 0 || ::setresgid(user, user, user) != 0
            || ::setresuid(user, user, user) != 0))
        return CannotIsolate;
    return Ping_Host(QString::fromLatin1(target), 2, 200, QStringLiteral("echo request")) ? Replied : NoReply;
}

} // namespace

class TestModIP32 : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void ipToLong_data();
    void ipToLong();
    void unsupportedSockets();
    void pingHost_data();
    void pingHost();
    void systemLookUp();
    void echoOnLoopback();
    void echoInOwnNamespace_data();
    void echoInOwnNamespace();

private:
    bool m_resolverConfined = false;
    QString m_resolverWhy;
};

void TestModIP32::initTestCase()
{
    m_resolverConfined = LoopbackResolver::confine(&m_resolverWhy, {"127.0.0.1", "::1 v6only.test", {}});
}

void TestModIP32::ipToLong_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<quint32>("packed");

    QTest::newRow("first part in the lowest byte") << "10.0.0.1" << 0x0100000Au;
    QTest::newRow("three parts") << "10.0.0" << 0u;
    QTest::newRow("five parts") << "1.2.3.4.5" << 0u;
    QTest::newRow("lowest 8 bits of 256") << "256.1.1.1" << 0x01010100u;
    QTest::newRow("lowest 8 bits of -1") << "-1.0.0.0" << 0x000000FFu;
    QTest::newRow("letter") << "1.2.3.a" << 0u;
    QTest::newRow("beyond 32 bits") << "1.2.3.1e12" << 0u;
}

void TestModIP32::ipToLong()
{
    QFETCH(QString, text);
    QFETCH(quint32, packed);
    QCOMPARE(IP_ToLong(text), packed);
}

void TestModIP32::unsupportedSockets()
{
    StandIn standIn(QStringLiteral("version 1.0"), 0);
    const PlatformOverride useStandIn(standIn);
    QString text;
    QCOMPARE(Socket_Startup(&text), -1);
    QCOMPARE(text, QStringLiteral("ERROR : Windows Sockets version 1.0 is not supported by winsock.dll."));
    QCOMPARE(Get_HostIP(QStringLiteral("device")), QString());
    QCOMPARE(standIn.open, 0);   // the start-up undone
}

void TestModIP32::pingHost_data()
{
    QTest::addColumn<QString>("strIP");
    QTest::addColumn<int>("wait");
    QTest::addColumn<int>("replyOn");
    QTest::addColumn<QString>("fault");
    QTest::addColumn<bool>("replied");
    QTest::addColumn<QStringList>("sent");

    const QString address = QStringLiteral("192.168.1.10");
    const QString request = QStringLiteral("0a01a8c0 echo request 200");
    QTest::newRow("first answered: no second request") << address << 200 << 1 << "" << true << QStringList{request};
    QTest::newRow("second answered") << address << 200 << 2 << "" << true << QStringList{request, request};
    QTest::newRow("none answered: count requests") << address << 200 << 0 << "" << false
                                                   << QStringList{request, request};
    QTest::newRow("negative wait counts as 0") << address << -5 << 0 << "" << false
                                               << QStringList(2, QStringLiteral("0a01a8c0 echo request 0"));
    QTest::newRow("host name resolved first")
        << " device " << 200 << 1 << "" << true << QStringList{"c807000a echo request 200"};
    QTest::newRow("name not resolved: nothing sent") << "nohost" << 200 << 1 << "" << false << QStringList{};
    QTest::newRow("sockets 1.0: nothing sent") << address << 200 << 1 << "version 1.0" << false << QStringList{};
    QTest::newRow("echo fails: the result stands") << address << 200 << 1 << "echo throws" << false
                                                   << QStringList{request};
}

void TestModIP32::pingHost()
{
    QFETCH(QString, strIP);
    QFETCH(int, wait);
    QFETCH(int, replyOn);
    QFETCH(QString, fault);
    QFETCH(bool, replied);
    QFETCH(QStringList, sent);

    StandIn standIn(fault, replyOn);
    const PlatformOverride useStandIn(standIn);
    QCOMPARE(Ping_Host(strIP, 2, qint16(wait), QStringLiteral("echo request")), replied);
    QCOMPARE(standIn.sent, sent);
    QCOMPARE(standIn.open, 0);
}

void TestModIP32::systemLookUp()
{
    // Blanks around the name are trimmed; the first IPv4 address comes first.
    QCOMPARE(Get_HostIP(QStringLiteral(" localhost ")), QStringLiteral("127.0.0.1"));
    QCOMPARE(Get_HostIP(QStringLiteral("[::1]")), QStringLiteral("::1"));
    if (!m_resolverConfined)
        QSKIP(qPrintable(QStringLiteral("a look-up that fails would ask the network: ") + m_resolverWhy));
    QCOMPARE(Get_HostIP(QStringLiteral("nohost.invalid")), QString());
    QCOMPARE(Get_HostIP(QStringLiteral("v6only.test")), QStringLiteral("::1"));
}

void TestModIP32::echoOnLoopback()
{
    const QString request = QStringLiteral("echo request");
    QVERIFY(Ping_Host(QStringLiteral("127.0.0.1"), 2, 200, request));
    QVERIFY(Ping_Host(QStringLiteral("::1"), 2, 200, request));
    QVERIFY(Ping_Host(QStringLiteral("[::1]"), 2, 200, request));
    // Linux would answer an echo to 0.0.0.0 or :: from the local host.
    QVERIFY(!Ping_Host(QStringLiteral("0.0.0.0"), 2, 200, request));
    QVERIFY(!Ping_Host(QStringLiteral("::"), 2, 200, request));
    if (m_resolverConfined)
        QVERIFY(Ping_Host(QStringLiteral("v6only.test"), 2, 200, request));
}

void TestModIP32::echoInOwnNamespace_data()
{
    QTest::addColumn<QString>("target");
    QTest::addColumn<QString>("pingGroupRange");
    QTest::addColumn<bool>("echoIgnored");
    QTest::addColumn<int>("user");
    QTest::addColumn<bool>("replied");

    // Root has raw sockets; nobody (65534) has only what ping_group_range allows.
    for (const QString &target : {QStringLiteral("127.0.0.1"), QStringLiteral("::1")}) {
        const QByteArray v = target.toLatin1();
        QTest::addRow("%s: root, own requests are no replies", v.data()) << target << "1 0" << true << 0 << false;
        QTest::addRow("%s: root, datagram socket", v.data()) << target << "0 0" << false << 0 << true;
        QTest::addRow("%s: nobody, datagram socket", v.data()) << target << "0 65534" << false << 65534 << true;
        QTest::addRow("%s: nobody, no ICMP socket at all", v.data()) << target << "1 0" << false << 65534 << false;
    }
}

void TestModIP32::echoInOwnNamespace()
{
    QFETCH(QString, target);
    QFETCH(QString, pingGroupRange);
    QFETCH(bool, echoIgnored);
    QFETCH(int, user);
    QFETCH(bool, replied);
    if (::geteuid() != 0)
        QSKIP("making a network namespace needs root");

    QProcess child;
    child.start(QCoreApplication::applicationFilePath(),
                {QStringLiteral("--echo-in-namespace"), target, pingGroupRange, echoIgnored ? "1" : "0",
                 QString::number(user)});
    QVERIFY(child.waitForFinished(30000));
    QCOMPARE(child.exitStatus(), QProcess::NormalExit);
    if (child.exitCode() == CannotIsolate)
        QSKIP("no network namespace could be made here");
    QCOMPARE(child.exitCode(), replied ? int(Replied) : int(NoReply));
}

int main(int argc, char **argv)
{
    if (argc == 6 && std::strcmp(argv[1], "--echo-in-namespace") == 0) {
        // The reply is awaited in the event loop, as in the program.
        QCoreApplication application(argc, argv);
        // _Exit: no leak check at exit, which cannot stop the world once the user changed.
        std::_Exit(echoInNamespace(argv[2], argv[3], argv[4], static_cast<uid_t>(std::atoi(argv[5]))));
    }
    QCoreApplication application(argc, argv);
    TestModIP32 test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_modip32.moc"
