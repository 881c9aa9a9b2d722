// Address packing, sockets start-up, host look-up and ICMP echo: the rules
// through a recording stand-in for the system's services, the echo itself on
// loopback and in network namespaces of our own.
#include "LoopbackResolver.h"
#include "probes/IP32Platform.h"
#include "probes/modIP32.h"

#include <QFile>
#include <QProcess>
#include <QTest>

#include <cerrno>
#include <cstring>
#include <grp.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sched.h>
#include <stdexcept>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace modIP32;

namespace {

// Stands in for the system's services, writes down every call and fails
// where the fault given says: "startup refused", "startup throws", "version
// 1.0", "version 0.9", "version 2.0", "no sockets", "lookup throws", "no echo
// handle" or "echo throws". Only "device" resolves, to 10.0.7.200; the
// request numbered replyOnRequest (from 1) gets a reply.
class RecordingPlatform : public Platform
{
public:
    explicit RecordingPlatform(const QString &fault, int replyOnRequest = 0)
        : m_fault(fault), m_replyOnRequest(replyOnRequest) {}

    QStringList events;
    qsizetype replyBufferSize = -1;

    int WSAStartup(quint16 wVersionRequested, WSAData &data) override
    {
        events << QStringLiteral("startup %1").arg(wVersionRequested);
        fails("startup throws");
        static const QHash<QString, quint16> versions{{"version 1.0", 0x0001}, {"version 0.9", 0x0900},
                                                      {"version 2.0", 0x0002}};
        data.wVersion = versions.value(m_fault, kSocketsVersion);
        data.iMaxSockets = m_fault == QLatin1String("no sockets") ? 0 : 100;
        return m_fault == QLatin1String("startup refused") ? 10091 : 0;
    }
    int WSACleanup() override
    {
        events << QStringLiteral("cleanup");
        return 0;
    }
    std::optional<HostEnt> gethostbyname(const QByteArray &name) override
    {
        events << QStringLiteral("lookup ") + QString::fromLatin1(name);
        fails("lookup throws");
        if (name != "device")
            return std::nullopt;
        return HostEnt{4, {QByteArray("\x0a\x00\x07\xc8", 4), QByteArray("\x09\x09\x09\x09", 4)}};
    }
    EchoHandle IcmpCreateFile() override
    {
        events << QStringLiteral("create");
        return m_fault == QLatin1String("no echo handle") ? kInvalidEchoHandle : 7;
    }
    quint32 IcmpSendEcho(EchoHandle handle, quint32 address, const QByteArray &requestData, QByteArray &replyBuffer,
                         quint32 timeoutMs) override
    {
        events << QStringLiteral("send %1 %2 \"%3\" %4")
                      .arg(handle)
                      .arg(address, 8, 16, QLatin1Char('0'))
                      .arg(QString::fromLatin1(requestData))
                      .arg(timeoutMs);
        replyBufferSize = replyBuffer.size();
        fails("echo throws");
        return ++m_sent == m_replyOnRequest ? 1 : 0;
    }
    bool IcmpCloseHandle(EchoHandle handle) override
    {
        events << QStringLiteral("close %1").arg(handle);
        return true;
    }

private:
    void fails(const char *fault) const
    {
        if (m_fault == QLatin1String(fault))
            throw std::runtime_error(fault);
    }

    QString m_fault;
    int m_replyOnRequest;
    int m_sent = 0;
};

// What the child run in its own network namespace reports.
enum ChildExit { Replied = 0, NoReply = 1, CannotIsolate = 77 };

bool writeProc(const char *path, const char *value)
{
    QFile file(QString::fromLatin1(path));
    return file.open(QIODevice::WriteOnly) && file.write(value) > 0 && file.flush();
}

// Child: in a network namespace of its own, with these echo settings and as
// this user, one Ping_Host to 127.0.0.1 as the window sends it.
int echoInNamespace(const char *pingGroupRange, const char *ignoreEcho, uid_t user)
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
        || !writeProc("/proc/sys/net/ipv4/icmp_echo_ignore_all", ignoreEcho))
        return CannotIsolate;
    // Changing to another user drops every capability, CAP_NET_RAW included.
    if (user != 0
        && (::setgroups(0, nullptr) != 0 || ::setresgid(user, user, user) != 0
            || ::setresuid(user, user, user) != 0))
        return CannotIsolate;
    return Ping_Host(QStringLiteral("127.0.0.1"), 2, 200, QStringLiteral("echo request")) ? Replied : NoReply;
}

} // namespace

class TestModIP32 : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void ipToLong_data();
    void ipToLong();
    void startupAndLookUp_data();
    void startupAndLookUp();
    void getHostIP();
    void pingHostThroughPlatform_data();
    void pingHostThroughPlatform();
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

void TestModIP32::startupAndLookUp_data()
{
    QTest::addColumn<QString>("name");     // null: the start-up alone
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QString>("result");   // the start-up's status text, or the address looked up
    QTest::addColumn<QStringList>("events");

    const QString failure = QStringLiteral("ERROR : Socket initialization failure.");
    const QStringList startedOnly{QStringLiteral("startup 257")};
    const QStringList undone{QStringLiteral("startup 257"), QStringLiteral("cleanup")};
    const QStringList resolved{"startup 257", "lookup device", "cleanup"};
    const QString longName(300, QLatin1Char('h'));
    const QString none;

    QTest::newRow("version 1.1") << none << "" << kSocketStartupSuccess << startedOnly;
    QTest::newRow("version 2.0") << none << "version 2.0" << kSocketStartupSuccess << startedOnly;
    QTest::newRow("version 1.0") << none << "version 1.0"
                                 << "ERROR : Windows Sockets version 1.0 is not supported by winsock.dll." << undone;
    QTest::newRow("version 0.9") << none << "version 0.9"
                                 << "ERROR : Windows Sockets version 0.9 is not supported by winsock.dll." << undone;
    QTest::newRow("no sockets") << none << "no sockets" << "ERROR : A minimum of 1 supported sockets is required."
                                << undone;
    QTest::newRow("start-up refused") << none << "startup refused" << failure << startedOnly;
    QTest::newRow("start-up fails") << none << "startup throws" << failure << startedOnly;

    QTest::newRow("first address, no leading zeros") << "device" << "" << "10.0.7.200" << resolved;
    QTest::newRow("blanks trimmed") << "  device " << "" << "10.0.7.200" << resolved;
    QTest::newRow("cut at 256 characters")
        << longName << "" << "" << QStringList{"startup 257", "lookup " + longName.left(256), "cleanup"};
    QTest::newRow("not resolved") << "nohost" << "" << "" << QStringList{"startup 257", "lookup nohost", "cleanup"};
    QTest::newRow("resolver fails") << "device" << "lookup throws" << "" << resolved;
    QTest::newRow("sockets 1.0: no look-up") << "device" << "version 1.0" << "" << undone;
}

void TestModIP32::startupAndLookUp()
{
    QFETCH(QString, name);
    QFETCH(QString, fault);
    QFETCH(QString, result);
    QFETCH(QStringList, events);

    RecordingPlatform recording(fault);
    const PlatformOverride useRecording(recording);
    if (name.isNull()) {
        QString status = QStringLiteral("untouched");
        const qint32 code = Socket_Startup(&status);
        QCOMPARE(status, result);
        QCOMPARE(code, result == kSocketStartupSuccess ? 0 : -1);
        QCOMPARE(recording.events, events);
        QCOMPARE(Socket_Startup(), code);   // without the text
    } else {
        QCOMPARE(Get_HostIP(name), result);
        QCOMPARE(recording.events, events);
    }
}

void TestModIP32::getHostIP()
{
    QCOMPARE(Get_HostIP(QStringLiteral(" localhost ")), QStringLiteral("127.0.0.1"));
    QCOMPARE(Get_HostIP(QStringLiteral("[::1]")), QStringLiteral("::1"));
    if (!m_resolverConfined)
        QSKIP(qPrintable(QStringLiteral("a look-up that fails would ask the network: ") + m_resolverWhy));
    QCOMPARE(Get_HostIP(QStringLiteral("nohost.invalid")), QString());
    QCOMPARE(Get_HostIP(QStringLiteral("v6only.test")), QStringLiteral("::1"));
}

void TestModIP32::pingHostThroughPlatform_data()
{
    QTest::addColumn<QString>("strIP");
    QTest::addColumn<int>("wait");
    QTest::addColumn<int>("replyOnRequest");
    QTest::addColumn<QString>("fault");
    QTest::addColumn<bool>("replied");
    QTest::addColumn<QStringList>("events");   // two requests at most

    const QString address = QStringLiteral("192.168.1.10");
    const QString request = QStringLiteral("send 7 0a01a8c0 \"echo request\" 200");
    const QStringList open{"startup 257", "create"};
    const QStringList close{"close 7", "cleanup"};

    QTest::newRow("first request answered: one sent")
        << address << 200 << 1 << "" << true << open + QStringList{request} + close;
    QTest::newRow("second request answered")
        << address << 200 << 2 << "" << true << open + QStringList{request, request} + close;
    QTest::newRow("nothing answered: count sent, each waiting")
        << address << 200 << 0 << "" << false << open + QStringList{request, request} + close;
    QTest::newRow("negative wait counts as 0")
        << address << -5 << 0 << "" << false
        << open + QStringList{"send 7 0a01a8c0 \"echo request\" 0", "send 7 0a01a8c0 \"echo request\" 0"} + close;
    QTest::newRow("host name resolved first, its sockets cleaned up before")
        << " device " << 200 << 1 << "" << true
        << QStringList{"startup 257", "lookup device", "cleanup"} + open
               + QStringList{"send 7 c807000a \"echo request\" 200"} + close;
    QTest::newRow("name not resolved: sockets never started for the echo")
        << "nohost" << 200 << 1 << "" << false << QStringList{"startup 257", "lookup nohost", "cleanup"};
    QTest::newRow("sockets 1.0") << address << 200 << 1 << "version 1.0" << false
                                 << QStringList{"startup 257", "cleanup"};
    QTest::newRow("no echo handle") << address << 200 << 1 << "no echo handle" << false
                                    << QStringList{"startup 257", "create", "cleanup"};
    QTest::newRow("echo fails: handle and sockets still released")
        << address << 200 << 1 << "echo throws" << false << open + QStringList{request} + close;
}

void TestModIP32::pingHostThroughPlatform()
{
    QFETCH(QString, strIP);
    QFETCH(int, wait);
    QFETCH(int, replyOnRequest);
    QFETCH(QString, fault);
    QFETCH(bool, replied);
    QFETCH(QStringList, events);

    RecordingPlatform recording(fault, replyOnRequest);
    const PlatformOverride useRecording(recording);
    QCOMPARE(Ping_Host(strIP, 2, qint16(wait), QStringLiteral("echo request")), replied);
    QCOMPARE(recording.events, events);
    if (!recording.events.filter(QStringLiteral("send")).isEmpty())
        QCOMPARE(recording.replyBufferSize, qsizetype(kEchoReplyBufferSize));
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
    QTest::addColumn<QString>("pingGroupRange");
    QTest::addColumn<bool>("echoIgnored");
    QTest::addColumn<int>("user");
    QTest::addColumn<bool>("replied");

    // Root has raw sockets; nobody (65534) has only what ping_group_range allows.
    QTest::newRow("root, own requests are no replies") << "1 0" << true << 0 << false;
    QTest::newRow("root, datagram socket") << "0 0" << false << 0 << true;
    QTest::newRow("nobody, no ICMP socket at all") << "1 0" << false << 65534 << false;
}

void TestModIP32::echoInOwnNamespace()
{
    QFETCH(QString, pingGroupRange);
    QFETCH(bool, echoIgnored);
    QFETCH(int, user);
    QFETCH(bool, replied);
    if (::geteuid() != 0)
        QSKIP("making a network namespace needs root");

    QProcess child;
    child.start(QCoreApplication::applicationFilePath(),
                {QStringLiteral("--echo-in-namespace"), pingGroupRange, echoIgnored ? "1" : "0",
                 QString::number(user)});
    QVERIFY(child.waitForFinished(30000));
    QCOMPARE(child.exitStatus(), QProcess::NormalExit);
    if (child.exitCode() == CannotIsolate)
        QSKIP("no network namespace could be made here");
    QCOMPARE(child.exitCode(), replied ? int(Replied) : int(NoReply));
}

int main(int argc, char **argv)
{
    if (argc == 5 && std::strcmp(argv[1], "--echo-in-namespace") == 0) {
        // The reply is awaited in the event loop, as in the program.
        QCoreApplication application(argc, argv);
        // _Exit: no leak check at exit, which cannot stop the world once the user changed.
        std::_Exit(echoInNamespace(argv[2], argv[3], static_cast<uid_t>(std::atoi(argv[4]))));
    }
    QCoreApplication application(argc, argv);
    TestModIP32 test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_modip32.moc"
