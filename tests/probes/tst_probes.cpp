// The TCP and FTP probes against real loopback peers, and how their waits behave.
#include "LoopbackPeers.h"
#include "LoopbackResolver.h"
#include "PythonPeer.h"
#include "probes/EventWait.h"
#include "probes/FallbackBound.h"
#include "probes/FtpProbe.h"
#include "probes/HostLookup.h"
#include "probes/TcpProbe.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>
#include <cstring>
#include <ctime>
#include <unistd.h>

using Lines = QList<QByteArray>;

namespace {

int logOn(quint16 port, int seconds, const QString &user = "anonymous", const QString &host = "127.0.0.1")
{
    FtpClientControl client;
    client.SetTimeout(static_cast<qint16>(seconds));
    client.SetHostName(host);
    client.SetRemotePort(port);
    client.SetUserName(user);
    client.SetPassword(QStringLiteral("guestpass"));
    const int code = client.Login();
    client.Disconnect(); // QUIT goes out before the connection closes
    for (int pass = 0; pass < 50 && client.IsConnected(); ++pass)
        QTest::qWait(100);
    return code;
}

struct TcpCase {
    QString host, kind;
    bool answered;
    int timeout = 5;
}; // kind: open, refused, blackholed

struct FtpCase { // what the peer says, what the probe sends and its result code
    QString host;
    QByteArray greeting;
    Lines replies;
    int code;
    Lines sent;
    QString user = QStringLiteral("anonymous");
};

} // namespace

Q_DECLARE_METATYPE(TcpCase)
Q_DECLARE_METATYPE(FtpCase)

class TestProbes : public QObject {
    Q_OBJECT
    QString m_resolverWhy;
    bool m_resolverConfined = false;

private slots:
    void initTestCase()
    {
        // Any name not in our hosts file goes to a name server that never answers.
        const QByteArray server = LoopbackResolver::silentNameServer();
        const QByteArray hosts = "::1 v6only.test\n127.0.0.1 both.test\n::1 both.test";
        m_resolverConfined = !server.isEmpty() && LoopbackResolver::confine(&m_resolverWhy, { server, hosts, {} });
    }
    void cleanup() { EventWait::resetAbandoned(); }

    void silentPeer_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("TCP connect, blackholed port") << "tcp";
        QTest::newRow("FTP greeting that goes on and on") << "ftp";
        QTest::newRow("name look-up, silent resolver") << "lookup";
    }

    // A check with a time limit of 1 s that its peer never completes.
    void silentPeer()
    {
        QFETCH(QString, kind);
        if (kind == QLatin1String("lookup") && !m_resolverConfined)
            QSKIP(qPrintable(m_resolverWhy));
        const LoopbackPort tcpPort = LoopbackPort::blackholed();
        // In the event loop the waits run: a greeting line every 50 ms for 3 s.
        const QString ftpAddress = privateLoopbackAddress();
        QTcpServer ftpServer;
        QVERIFY(ftpServer.listen(QHostAddress(ftpAddress), 21));
        const QDeadlineTimer talking(3000);
        QTimer talk;
        connect(&talk, &QTimer::timeout, [&] {
            for (QTcpSocket *client : ftpServer.findChildren<QTcpSocket *>())
                if (client->state() == QAbstractSocket::ConnectedState && !talking.hasExpired())
                    client->write("220-still greeting\r\n");
        });
        talk.start(50);
        TcpProbe tcp([] { return 15; });
        FtpProbe ftp([] { return 15; });
        const auto check = [&] {
            if (kind == QLatin1String("tcp"))
                return tcp.Check_Socket(QStringLiteral("127.0.0.1"), tcpPort.port(), 1);
            if (kind == QLatin1String("ftp"))
                return ftp.Check_FTP(ftpAddress, QStringLiteral("anonymous"), QStringLiteral("guestpass"), 1);
            return !HostLookup::resolve(QStringLiteral("silent.test"), QDeadlineTimer(1000)).isEmpty();
        };

        // Waited out: the event loop runs throughout and the CPU sleeps.
        int ticks = 0;
        QTimer tick;
        connect(&tick, &QTimer::timeout, [&ticks] { ++ticks; });
        tick.start(50);
        QElapsedTimer clock;
        clock.start();
        const auto cpuMs = [] { return qint64(std::clock()) * 1000 / CLOCKS_PER_SEC; }; // every thread's
        const qint64 cpuBefore = cpuMs();
        QVERIFY(!check());
        const qint64 elapsed = clock.elapsed(), cpu = cpuMs() - cpuBefore;
        QVERIFY2(elapsed >= 950 && elapsed < 1300, qPrintable(QString::number(elapsed)));
        QVERIFY2(ticks >= 10, qPrintable(QString::number(ticks)));
        // A spinning wait burns nearly all of it; a quarter leaves room for a loaded sanitizer build.
        QVERIFY2(cpu < elapsed / 4, qPrintable(QStringLiteral("%1 ms CPU").arg(cpu)));

        // Abandoned at 0.3 s: the check ends at once, and so does every later one.
        QTimer::singleShot(300, [] { EventWait::abandonAll(); });
        clock.restart();
        QVERIFY(!check());
        QVERIFY2(clock.elapsed() < 700, qPrintable(QString::number(clock.elapsed())));
        clock.restart();
        QVERIFY(!check());
        QVERIFY2(clock.elapsed() < 100, qPrintable(QString::number(clock.elapsed())));
    }

    void pendingLookUpDoesNotHoldTheExit()
    {
        if (!m_resolverConfined)
            QSKIP(qPrintable(m_resolverWhy));
        // The child gives up on a look-up after 200 ms; the resolver still waits.
        QProcess child;
        QElapsedTimer clock;
        clock.start();
        child.start(QCoreApplication::applicationFilePath(), { QStringLiteral("--give-up-on-look-up") });
        QVERIFY(child.waitForFinished(10000));
        QCOMPARE(child.exitCode(), 0);
        QVERIFY2(clock.elapsed() < 200 + 300 + 300, qPrintable(QString::number(clock.elapsed())));
    }

    void tcpOutcome_data()
    {
        QTest::addColumn<TcpCase>("c");
        const QString v4 = QStringLiteral("127.0.0.1");
        QTest::newRow("open port") << TcpCase { v4, "open", true };
        QTest::newRow("refused port") << TcpCase { v4, "refused", false };
        // Only the command line gives a limit of 0 or below: the fallback bound holds.
        QTest::newRow("silent port, time limit below 0") << TcpCase { v4, "blackholed", false, -1 };
        QTest::newRow("open port, time limit 0") << TcpCase { v4, "open", true, 0 };
        QTest::newRow("blank host is no local host") << TcpCase { "   ", "open", false };
        QTest::newRow("leading zeros read as decimal") << TcpCase { "127.000.000.001", "open", true };
        QTest::newRow("IPv6 open port") << TcpCase { "::1", "open", true };
        QTest::newRow("IPv6 in brackets, open port") << TcpCase { "[::1]", "open", true };
        QTest::newRow("name with only an IPv6 address") << TcpCase { "v6only.test", "open", true };
        QTest::newRow("name with both: IPv4 first") << TcpCase { "both.test", "open", true };
        // Dotted, but no address: never handed to the resolver, which would hang.
        QTest::newRow("999.1.1.1") << TcpCase { "999.1.1.1", "open", false };
    }

    void tcpOutcome()
    {
        QFETCH(TcpCase, c);
        const auto &[host, kind, answered, timeout] = c;
        if (host.contains(QLatin1String(".test")) && !m_resolverConfined)
            QSKIP(qPrintable(m_resolverWhy));

        // both.test also names ::1, where nothing listens: IPv4 must come first.
        const QString listener = host.contains(QLatin1Char(':')) || host.startsWith(QLatin1String("v6"))
            ? QStringLiteral("::1")
            : QStringLiteral("127.0.0.1");
        LoopbackPort port = kind == QLatin1String("open") ? LoopbackPort::open(listener)
            : kind == QLatin1String("refused")            ? LoopbackPort::refused(listener)
                                                          : LoopbackPort::blackholed(listener);
        TcpProbe probe([] { return 15; });
        const FallbackBound::Override fallback(500);
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(probe.Check_Socket(host, port.port(), static_cast<qint16>(timeout)), answered);
        const qint64 limitMs = kind == QLatin1String("blackholed") ? 500 : 0;
        QVERIFY2(clock.elapsed() >= limitMs - 50 && clock.elapsed() < limitMs + 300,
            qPrintable(QString::number(clock.elapsed())));
        if (answered) {
            // The connection it made is closed again, and the next probe answers the same.
            QVERIFY(peerClosed(port.accept(5000), 5000));
            QVERIFY(probe.Check_Socket(host, port.port(), 5));
        }
    }

    void ftpDialogue_data()
    {
        QTest::addColumn<FtpCase>("c");
        const QString v4 = QStringLiteral("127.0.0.1");
        const QByteArray ready("220 ready\r\n");
        const Lines both { "USER anonymous", "PASS guestpass", "QUIT" };
        const Lines userOnly { "USER anonymous", "QUIT" };
        const int protocolError = FtpClientControl::ProtocolError;
        QTest::newRow("password asked and accepted")
            << FtpCase { v4, ready, { "331 password please\r\n", "230 welcome\r\n" }, 0, both };
        QTest::newRow("no password needed, IPv6") << FtpCase { "[::1]", ready, { "230 welcome\r\n" }, 0, userOnly };
        QTest::newRow("multi-line replies, some lines ending in a bare line feed")
            << FtpCase { v4, "220-first line\n220-second line\r\n 220 not the end\n220 ready\r\n",
                   { "331 password please\n", "230-welcome\n230 logged in\r\n" }, 0, both };
        QTest::newRow("wait, then greeting")
            << FtpCase { v4, "120 ready in 1 minute\r\n220 ready\r\n", { "230 welcome\r\n" }, 0, userOnly };
        QTest::newRow("logon refused") << FtpCase { v4, ready, { "331 password please\r\n", "530 not allowed\r\n" },
            530, both };
        QTest::newRow("not an FTP server") << FtpCase { v4, "SSH-2.0-OpenSSH_9.2\r\n", {}, protocolError, { "QUIT" } };
        QTest::newRow("user refused at once; line breaks in the name stay on one line") << FtpCase { v4, ready,
            { "530 go away\r\n" }, 530, { "USER anonymousDELE x", "QUIT" }, "anonymous\r\nDELE x" };
        QTest::newRow("line longer than any reply")
            << FtpCase { v4, QByteArray(FtpClientControl::kLongestLine + 2, 'x'), {}, protocolError, { "QUIT" } };
    }

    void ftpDialogue()
    {
        QFETCH(FtpCase, c);
        ScriptedPeer server(c.greeting, c.replies, c.host.contains(QLatin1Char(':')) ? QStringLiteral("::1") : c.host);
        QCOMPARE(logOn(server.port(), 5, c.user, c.host), c.code);
        QCOMPARE(server.received(5000), c.sent);
    }

    void ftpAgainstRealServer()
    {
        if (::geteuid() != 0)
            QSKIP("the FTP port 21 can only be bound as root");
        for (const auto &[mode, loggedOn] : { std::pair { "anonymous", true }, { "named-only", false } }) {
            const QString address = privateLoopbackAddress();
            const PythonPeer server(QStringLiteral("ftp_server.py"), { address, QStringLiteral("21"), mode });
            QVERIFY2(server.isReady(), qPrintable(server.errorText()));
            FtpProbe probe([] { return 15; });
            // A second logon on the same client answers the same.
            for (int attempt = 0; attempt < 2; ++attempt) {
                QCOMPARE(
                    probe.Check_FTP(address, QStringLiteral("anonymous"), QStringLiteral("guestpass"), 10), loggedOn);
                QVERIFY(!probe.FtpClient1().IsConnected());
            }
        }
    }
};

int main(int argc, char **argv)
{
    QCoreApplication application(argc, argv);
    if (argc == 2 && std::strcmp(argv[1], "--give-up-on-look-up") == 0)
        return HostLookup::resolve(QStringLiteral("silent.test"), QDeadlineTimer(200)).isEmpty() ? 0 : 1;
    TestProbes test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}
#include "tst_probes.moc"
