// Address packing, sockets start-up, host look-up and ICMP echo: the rules
// through a recording stand-in for the system's services, the echo itself on
// loopback and in network namespaces of our own.
#include "LoopbackResolver.h"
#include "probes/IP32Platform.h"
#include "probes/modIP32.h"

#include <QDeadlineTimer>
#include <QProcess>
#include <QTest>
#include <QUuid>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <grp.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <stdexcept>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace modIP32;

namespace {

// Stands in for the system's services and writes down every call.
class RecordingPlatform : public Platform
{
public:
    QStringList events;
    quint16 version = kSocketsVersion;
    qint16 maxSockets = 32767;
    int startupCode = 0;
    bool startupThrows = false;
    QMap<QByteArray, QByteArray> hosts;   // name -> first address
    bool lookupThrows = false;
    bool echoRefused = false;
    int replyOnRequest = 0;               // 0: no request is answered
    bool sendThrows = false;
    qsizetype replyBufferSize = -1;

    int WSAStartup(quint16 wVersionRequested, WSAData &data) override
    {
        events << QStringLiteral("startup %1").arg(wVersionRequested);
        if (startupThrows)
            throw std::runtime_error("no sockets library");
        data.wVersion = version;
        data.iMaxSockets = maxSockets;
        return startupCode;
    }
    int WSACleanup() override
    {
        events << QStringLiteral("cleanup");
        return 0;
    }
    std::optional<HostEnt> gethostbyname(const QByteArray &name) override
    {
        events << QStringLiteral("lookup ") + QString::fromLatin1(name);
        if (lookupThrows)
            throw std::runtime_error("resolver failure");
        if (!hosts.contains(name))
            return std::nullopt;
        return HostEnt{4, {hosts.value(name), QByteArray("\x09\x09\x09\x09", 4)}};
    }
    EchoHandle IcmpCreateFile() override
    {
        events << QStringLiteral("create");
        return echoRefused ? kInvalidEchoHandle : 7;
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
        if (sendThrows)
            throw std::runtime_error("echo failure");
        return ++m_sent == replyOnRequest ? 1 : 0;
    }
    bool IcmpCloseHandle(EchoHandle handle) override
    {
        events << QStringLiteral("close %1").arg(handle);
        return true;
    }

private:
    int m_sent = 0;
};

// What the child run in its own network namespace reports.
enum ChildExit { Replied = 0, NoReply = 1, CannotIsolate = 77 };

bool writeProc(const char *path, const char *value)
{
    FILE *file = std::fopen(path, "w");
    if (!file)
        return false;
    const bool written = std::fputs(value, file) >= 0;
    return std::fclose(file) == 0 && written;
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

// A raw socket that sees the ICMP messages reaching this host.
class IcmpWatcher
{
public:
    IcmpWatcher() : m_fd(::socket(AF_INET, SOCK_RAW | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_ICMP)) {}
    ~IcmpWatcher()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    bool isOpen() const { return m_fd >= 0; }

    // Whether an echo request carrying this data arrived, waiting at most timeoutMs for it.
    bool sawRequestWith(const QByteArray &data, int timeoutMs)
    {
        QDeadlineTimer deadline(timeoutMs);
        char packet[65536];
        for (;;) {
            pollfd wanted{m_fd, POLLIN, 0};
            if (::poll(&wanted, 1, int(qMax<qint64>(0, deadline.remainingTime()))) <= 0)
                return false;
            const ssize_t size = ::recv(m_fd, packet, sizeof packet, 0);
            if (size <= 0)
                continue;
            const QByteArray message(packet, size);
            const int header = (quint8(message.at(0)) & 0x0F) * 4;
            if (message.size() > header + 8 && quint8(message.at(header)) == 8
                && message.mid(header + 8) == data)
                return true;
        }
    }

private:
    int m_fd;
};

} // namespace

class TestModIP32 : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void ipToLong_data();
    void ipToLong();
    void bytes();
    void socketStartup_data();
    void socketStartup();
    void getHostIPThroughPlatform_data();
    void getHostIPThroughPlatform();
    void getHostIP_data();
    void getHostIP();
    void pingHostThroughPlatform_data();
    void pingHostThroughPlatform();
    void pingLoopback_data();
    void pingLoopback();
    void packedAddressZeroSendsNothing_data();
    void packedAddressZeroSendsNothing();
    void echoInOwnNamespace_data();
    void echoInOwnNamespace();

private:
    bool m_resolverConfined = false;
    QString m_resolverWhy;
};

void TestModIP32::initTestCase()
{
    m_resolverConfined = LoopbackResolver::confine(&m_resolverWhy);
}

void TestModIP32::ipToLong_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<quint32>("packed");

    QTest::newRow("address") << "192.168.1.10" << 0x0A01A8C0u;
    QTest::newRow("first part in the lowest byte") << "10.0.0.1" << 0x0100000Au;
    QTest::newRow("three parts") << "10.0.0" << 0u;
    QTest::newRow("five parts") << "1.2.3.4.5" << 0u;
    QTest::newRow("last part above 127") << "10.0.0.200" << 0xC800000Au;
    QTest::newRow("broadcast") << "255.255.255.255" << 0xFFFFFFFFu;
    QTest::newRow("zero") << "0.0.0.0" << 0u;
    QTest::newRow("lowest 8 bits of 256") << "256.1.1.1" << 0x01010100u;
    QTest::newRow("lowest 8 bits of 999") << "999.1.1.1" << 0x010101E7u;
    QTest::newRow("lowest 8 bits of -1") << "-1.0.0.0" << 0x000000FFu;
    QTest::newRow("blanks around parts") << " 1 . 2 .3. 4 " << 0x04030201u;
    QTest::newRow("exponent") << "1e2.2.3.4" << 0x04030264u;
    QTest::newRow("letter") << "1.2.3.a" << 0u;
    QTest::newRow("empty part") << "1..2.3" << 0u;
    QTest::newRow("empty") << "" << 0u;
    QTest::newRow("beyond 32 bits") << "1.2.3.1e12" << 0u;
}

void TestModIP32::ipToLong()
{
    QFETCH(QString, text);
    QFETCH(quint32, packed);
    QCOMPARE(IP_ToLong(text), packed);
}

void TestModIP32::bytes()
{
    QCOMPARE(Lo_Byte(kSocketsVersion), 1);
    QCOMPARE(Hi_Byte(kSocketsVersion), 1);
    QCOMPARE(Lo_Byte(0x0201), 1);
    QCOMPARE(Hi_Byte(0x0201), 2);
    QCOMPARE(Lo_Byte(0xFFFF), 255);
    QCOMPARE(Hi_Byte(0xFFFF), 255);
}

void TestModIP32::socketStartup_data()
{
    QTest::addColumn<int>("version");
    QTest::addColumn<int>("maxSockets");
    QTest::addColumn<int>("startupCode");
    QTest::addColumn<bool>("startupThrows");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QStringList>("events");   // of the start-up alone

    const QString ready = QStringLiteral("Socket initialization successfull.");
    const QString failure = QStringLiteral("ERROR : Socket initialization failure.");
    const QStringList startedOnly{QStringLiteral("startup 257")};
    const QStringList undone{QStringLiteral("startup 257"), QStringLiteral("cleanup")};

    QTest::newRow("version 1.1") << 0x0101 << 100 << 0 << false << ready << startedOnly;
    QTest::newRow("version 2.2") << 0x0202 << 1 << 0 << false << ready << startedOnly;
    QTest::newRow("version 1.0")
        << 0x0001 << 100 << 0 << false
        << QStringLiteral("ERROR : Windows Sockets version 1.0 is not supported by winsock.dll.") << undone;
    QTest::newRow("version 0.9")
        << 0x0900 << 100 << 0 << false
        << QStringLiteral("ERROR : Windows Sockets version 0.9 is not supported by winsock.dll.") << undone;
    QTest::newRow("no sockets") << 0x0101 << 0 << 0 << false
                                << QStringLiteral("ERROR : A minimum of 1 supported sockets is required.") << undone;
    QTest::newRow("negative socket count")
        << 0x0101 << -1 << 0 << false << QStringLiteral("ERROR : A minimum of 1 supported sockets is required.")
        << undone;
    QTest::newRow("start-up refused") << 0x0101 << 100 << 10091 << false << failure << startedOnly;
    QTest::newRow("start-up fails") << 0x0101 << 100 << 0 << true << failure << startedOnly;
}

void TestModIP32::socketStartup()
{
    QFETCH(int, version);
    QFETCH(int, maxSockets);
    QFETCH(int, startupCode);
    QFETCH(bool, startupThrows);
    QFETCH(QString, message);
    QFETCH(QStringList, events);

    RecordingPlatform recording;
    recording.version = quint16(version);
    recording.maxSockets = qint16(maxSockets);
    recording.startupCode = startupCode;
    recording.startupThrows = startupThrows;
    {
        const PlatformOverride useRecording(recording);
        QString status = QStringLiteral("untouched");
        const qint32 result = Socket_Startup(&status);
        QCOMPARE(status, message);
        QCOMPARE(result, message == kSocketStartupSuccess ? 0 : -1);
        QCOMPARE(recording.events, events);
        QCOMPARE(Socket_Startup(), result);   // without the text
    }
    QCOMPARE(&platform(), &systemPlatform());
}

void TestModIP32::getHostIPThroughPlatform_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("version");
    QTest::addColumn<bool>("lookupThrows");
    QTest::addColumn<QString>("address");
    QTest::addColumn<QStringList>("events");

    const QString longName(300, QLatin1Char('h'));
    const QStringList resolved{"startup 257", "lookup device", "cleanup"};

    QTest::newRow("first address, no leading zeros") << "device" << 0x0101 << false << "10.0.7.200" << resolved;
    QTest::newRow("blanks trimmed") << "  device " << 0x0101 << false << "10.0.7.200" << resolved;
    QTest::newRow("tab kept") << "\tdevice" << 0x0101 << false << ""
                              << QStringList{"startup 257", "lookup \tdevice", "cleanup"};
    QTest::newRow("cut at 256 characters")
        << longName << 0x0101 << false << ""
        << QStringList{"startup 257", "lookup " + longName.left(256), "cleanup"};
    QTest::newRow("not resolved") << "nohost" << 0x0101 << false << ""
                                  << QStringList{"startup 257", "lookup nohost", "cleanup"};
    QTest::newRow("resolver fails") << "device" << 0x0101 << true << "" << resolved;
    QTest::newRow("sockets 1.0: no look-up") << "device" << 0x0001 << false << ""
                                             << QStringList{"startup 257", "cleanup"};
}

void TestModIP32::getHostIPThroughPlatform()
{
    QFETCH(QString, name);
    QFETCH(int, version);
    QFETCH(bool, lookupThrows);
    QFETCH(QString, address);
    QFETCH(QStringList, events);

    RecordingPlatform recording;
    recording.version = quint16(version);
    recording.lookupThrows = lookupThrows;
    recording.hosts.insert("device", QByteArray("\x0a\x00\x07\xc8", 4));
    const PlatformOverride useRecording(recording);
    QCOMPARE(Get_HostIP(name), address);
    QCOMPARE(recording.events, events);
}

void TestModIP32::getHostIP_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("address");
    QTest::addColumn<bool>("needsConfinedResolver");

    QTest::newRow("host name with blanks around") << " localhost " << "127.0.0.1" << false;
    QTest::newRow("dotted address") << "127.0.0.9" << "127.0.0.9" << false;
    QTest::newRow("reserved invalid domain") << "nohost.invalid" << "" << true;
    QTest::newRow("empty") << "" << "" << true;
}

void TestModIP32::getHostIP()
{
    QFETCH(QString, name);
    QFETCH(QString, address);
    QFETCH(bool, needsConfinedResolver);
    if (needsConfinedResolver && !m_resolverConfined)
        QSKIP(qPrintable(QStringLiteral("a look-up that fails would ask the network: ") + m_resolverWhy));
    QCOMPARE(Get_HostIP(name), address);
}

void TestModIP32::pingHostThroughPlatform_data()
{
    QTest::addColumn<QString>("strIP");
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("wait");
    QTest::addColumn<int>("replyOnRequest");
    QTest::addColumn<int>("version");
    QTest::addColumn<bool>("echoRefused");
    QTest::addColumn<bool>("sendThrows");
    QTest::addColumn<bool>("replied");
    QTest::addColumn<QStringList>("events");

    const QString request = QStringLiteral("send 7 0a01a8c0 \"echo request\" 200");
    const QStringList open{"startup 257", "create"};
    const QStringList close{"close 7", "cleanup"};

    QTest::newRow("first request answered: one sent")
        << "192.168.1.10" << 2 << 200 << 1 << 0x0101 << false << false << true
        << open + QStringList{request} + close;
    QTest::newRow("second request answered")
        << "192.168.1.10" << 2 << 200 << 2 << 0x0101 << false << false << true
        << open + QStringList{request, request} + close;
    QTest::newRow("nothing answered: count sent, each waiting")
        << "192.168.1.10" << 2 << 200 << 0 << 0x0101 << false << false << false
        << open + QStringList{request, request} + close;
    QTest::newRow("count 4, third answered")
        << "192.168.1.10" << 4 << 200 << 3 << 0x0101 << false << false << true
        << open + QStringList{request, request, request} + close;
    QTest::newRow("count 0") << "192.168.1.10" << 0 << 200 << 1 << 0x0101 << false << false << false
                             << open + close;
    QTest::newRow("negative wait counts as 0")
        << "192.168.1.10" << 1 << -5 << 0 << 0x0101 << false << false << false
        << open + QStringList{"send 7 0a01a8c0 \"echo request\" 0"} + close;
    QTest::newRow("host name resolved first, its sockets cleaned up before")
        << " device " << 1 << 200 << 1 << 0x0101 << false << false << true
        << QStringList{"startup 257", "lookup device", "cleanup"} + open
               + QStringList{"send 7 0300000a \"echo request\" 200"} + close;
    QTest::newRow("name not resolved: sockets never started for the echo")
        << "nohost" << 2 << 200 << 1 << 0x0101 << false << false << false
        << QStringList{"startup 257", "lookup nohost", "cleanup"};
    QTest::newRow("sockets 1.0") << "192.168.1.10" << 2 << 200 << 1 << 0x0001 << false << false << false
                                 << QStringList{"startup 257", "cleanup"};
    QTest::newRow("no echo handle") << "192.168.1.10" << 2 << 200 << 1 << 0x0101 << true << false << false
                                    << QStringList{"startup 257", "create", "cleanup"};
    QTest::newRow("echo fails: handle and sockets still released")
        << "192.168.1.10" << 2 << 200 << 1 << 0x0101 << false << true << false
        << open + QStringList{request} + close;
}

void TestModIP32::pingHostThroughPlatform()
{
    QFETCH(QString, strIP);
    QFETCH(int, count);
    QFETCH(int, wait);
    QFETCH(int, replyOnRequest);
    QFETCH(int, version);
    QFETCH(bool, echoRefused);
    QFETCH(bool, sendThrows);
    QFETCH(bool, replied);
    QFETCH(QStringList, events);

    RecordingPlatform recording;
    recording.version = quint16(version);
    recording.replyOnRequest = replyOnRequest;
    recording.echoRefused = echoRefused;
    recording.sendThrows = sendThrows;
    recording.hosts.insert("device", QByteArray("\x0a\x00\x00\x03", 4));
    const PlatformOverride useRecording(recording);
    QCOMPARE(Ping_Host(strIP, qint16(count), qint16(wait), QStringLiteral("echo request")), replied);
    QCOMPARE(recording.events, events);
    if (recording.events.filter(QStringLiteral("send")).size() > 0)
        QCOMPARE(recording.replyBufferSize, qsizetype(kEchoReplyBufferSize));
}

void TestModIP32::pingLoopback_data()
{
    QTest::addColumn<QString>("strIP");
    QTest::newRow("dotted address") << "127.0.0.1";
    QTest::newRow("another loopback address") << "127.0.0.2";
    QTest::newRow("host name") << "localhost";
}

void TestModIP32::pingLoopback()
{
    QFETCH(QString, strIP);
    QVERIFY(Ping_Host(strIP, 2, 200, QStringLiteral("echo request")));
}

void TestModIP32::packedAddressZeroSendsNothing_data()
{
    QTest::addColumn<QString>("strIP");
    QTest::newRow("0.0.0.0") << "0.0.0.0";
    QTest::newRow("five parts pack to 0") << "127.0.0.1.5";
}

void TestModIP32::packedAddressZeroSendsNothing()
{
    QFETCH(QString, strIP);
    IcmpWatcher watcher;
    if (!watcher.isOpen())
        QSKIP("watching ICMP needs a raw socket");
    const QByteArray tag = QUuid::createUuid().toByteArray(QUuid::WithoutBraces);

    QVERIFY(!Ping_Host(strIP, 2, 200, QString::fromLatin1("zero " + tag)));
    // Linux would deliver a request to 0.0.0.0 through loopback, where the watcher sees it.
    QVERIFY(!watcher.sawRequestWith("zero " + tag, 300));
    // The watcher does see what is sent.
    QVERIFY(Ping_Host(QStringLiteral("127.0.0.1"), 1, 200, QString::fromLatin1("sent " + tag)));
    QVERIFY(watcher.sawRequestWith("sent " + tag, 5000));
}

void TestModIP32::echoInOwnNamespace_data()
{
    QTest::addColumn<QString>("pingGroupRange");
    QTest::addColumn<bool>("echoIgnored");
    QTest::addColumn<int>("user");
    QTest::addColumn<bool>("replied");

    // Root has raw sockets; nobody (65534) has only what ping_group_range allows.
    QTest::newRow("root, raw socket") << "1 0" << false << 0 << true;
    QTest::newRow("root, own requests are no replies") << "1 0" << true << 0 << false;
    QTest::newRow("root, datagram socket") << "0 0" << false << 0 << true;
    QTest::newRow("nobody, no ICMP socket at all") << "1 0" << false << 65534 << false;
    QTest::newRow("nobody, datagram socket") << "65534 65534" << false << 65534 << true;
    QTest::newRow("nobody, datagram socket, echo ignored") << "65534 65534" << true << 65534 << false;
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
        // _Exit: no leak check at exit, which cannot stop the world once the user changed.
        std::_Exit(echoInNamespace(argv[2], argv[3], static_cast<uid_t>(std::atoi(argv[4]))));
    }
    QCoreApplication application(argc, argv);
    TestModIP32 test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_modip32.moc"
