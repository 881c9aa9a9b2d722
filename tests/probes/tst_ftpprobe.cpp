// The FTP logon: the client's dialogue against scripted peers, and the probe
// against a real FTP server listening on port 21 of a loopback address.
#include "LoopbackPeers.h"
#include "PythonPeer.h"
#include "probes/FtpProbe.h"

#include <QTest>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using Lines = QList<QByteArray>;

const QString kLoopback = QStringLiteral("127.0.0.1");

FtpClientControl &aim(FtpClientControl &client, quint16 port, int seconds, const QString &user = "anonymous",
                      const QString &host = kLoopback)
{
    client.SetTimeout(static_cast<qint16>(seconds));
    client.SetHostName(host);
    client.SetRemotePort(port);
    client.SetUserName(user);
    client.SetPassword(QStringLiteral("guestpass"));
    return client;
}

// A server that greets, then keeps sending `stream` (or stays silent when it
// is empty) until the client goes away; it gives up by itself after 30 s.
class TalkativePeer
{
public:
    TalkativePeer(const QByteArray &greeting, const QByteArray &stream)
        : m_listener(LoopbackPort::open())
        , m_thread([this, greeting, stream] { serve(greeting, stream); })
    {
    }
    ~TalkativePeer() { clientLeft(); }

    quint16 port() const { return m_listener.port(); }
    // Waits for the peer to end: true when the client went away before it gave up.
    bool clientLeft()
    {
        if (m_thread.joinable())
            m_thread.join();
        return m_clientLeft;
    }

private:
    void serve(QByteArray out, const QByteArray &stream)
    {
        const int fd = m_listener.accept(5000);
        if (fd < 0)
            return;
        const timeval second{1, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &second, sizeof second);
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (std::chrono::steady_clock::now() < end) {
            if (!out.isEmpty() && ::send(fd, out.constData(), out.size(), MSG_NOSIGNAL) < 0 && errno != EAGAIN)
                break;
            out = stream;
            pollfd waiting{fd, POLLIN, 0};
            char buffer[4096];
            if (::poll(&waiting, 1, out.isEmpty() ? 100 : 0) > 0
                && ((waiting.revents & (POLLERR | POLLHUP)) || ::recv(fd, buffer, sizeof buffer, 0) <= 0))
                break;
        }
        m_clientLeft = std::chrono::steady_clock::now() < end;
    }

    LoopbackPort m_listener;
    std::atomic<bool> m_clientLeft = false;
    std::thread m_thread;
};

} // namespace

class TestFtpProbe : public QObject
{
    Q_OBJECT
private slots:
    void dialogue_data();
    void dialogue();
    void boundedByTheTimeLimit_data();
    void boundedByTheTimeLimit();
    void probeAgainstRealServer_data();
    void probeAgainstRealServer();
    void blankHostLeavesTheClientAlone();
    void logonOverIPv6();
};

void TestFtpProbe::dialogue_data()
{
    QTest::addColumn<QByteArray>("greeting");
    QTest::addColumn<Lines>("replies");
    QTest::addColumn<QString>("user");
    QTest::addColumn<int>("code");
    QTest::addColumn<Lines>("sent");

    const QByteArray ready("220 ready\r\n");
    const Lines both{"USER anonymous", "PASS guestpass", "QUIT"};
    const Lines userOnly{"USER anonymous", "QUIT"};
    const int notFtp = FtpClientControl::ProtocolError;
    QTest::newRow("password asked and accepted")
        << ready << Lines{"331 password please\r\n", "230 welcome\r\n"} << "anonymous" << 0 << both;
    QTest::newRow("no password needed") << ready << Lines{"230 welcome\r\n"} << "anonymous" << 0 << userOnly;
    QTest::newRow("multi-line replies")
        << QByteArray("220-first line\r\n220-second line\r\n 220 not the end\r\n220 ready\r\n")
        << Lines{"331 password please\r\n", "230-welcome\r\n230 logged in\r\n"} << "anonymous" << 0 << both;
    QTest::newRow("wait, then greeting")
        << QByteArray("120 ready in 1 minute\r\n220 ready\r\n") << Lines{"230 welcome\r\n"} << "anonymous" << 0
        << userOnly;
    QTest::newRow("bare line feeds")
        << QByteArray("220-first\n220 ready\n") << Lines{"230 welcome\n"} << "anonymous" << 0 << userOnly;
    QTest::newRow("logon refused")
        << ready << Lines{"331 password please\r\n", "530 not allowed\r\n"} << "anonymous" << 530 << both;
    QTest::newRow("user refused at once") << ready << Lines{"530 go away\r\n"} << "anonymous" << 530 << userOnly;
    QTest::newRow("service not available")
        << QByteArray("421 too many users\r\n") << Lines{} << "anonymous" << 421 << Lines{"QUIT"};
    QTest::newRow("not an FTP server")
        << QByteArray("SSH-2.0-OpenSSH_9.2\r\n") << Lines{} << "anonymous" << notFtp << Lines{"QUIT"};
    QTest::newRow("reply code 000") << QByteArray("000 hello\r\n") << Lines{} << "anonymous" << notFtp
                                    << Lines{"QUIT"};
    QTest::newRow("line breaks in the user name stay on one line")
        << ready << Lines{"530 go away\r\n"} << "anonymous\r\nDELE x" << 530
        << Lines{"USER anonymousDELE x", "QUIT"};
}

void TestFtpProbe::dialogue()
{
    QFETCH(QByteArray, greeting);
    QFETCH(Lines, replies);
    QFETCH(QString, user);
    QFETCH(int, code);
    QFETCH(Lines, sent);

    ScriptedPeer server(greeting, replies);
    FtpClientControl client;
    QCOMPARE(aim(client, server.port(), 5, user).Login(), code);
    QVERIFY(client.IsConnected());
    client.Disconnect();
    for (int pass = 0; pass < 50 && client.IsConnected(); ++pass)
        QTest::qWait(100);
    QVERIFY(!client.IsConnected());
    QCOMPARE(server.received(5000), sent);
}

void TestFtpProbe::boundedByTheTimeLimit_data()
{
    QTest::addColumn<QByteArray>("greeting");
    QTest::addColumn<QByteArray>("stream");
    QTest::addColumn<int>("code");

    const int timedOut = FtpClientControl::TimedOut;
    QTest::newRow("greets, then never answers USER") << QByteArray("220 ready\r\n") << QByteArray() << timedOut;
    QTest::newRow("greeting goes on and on")
        << QByteArray("220-first line\r\n") << QByteArray("220-and more\r\n").repeated(5000) << timedOut;
    QTest::newRow("one line without end")
        << QByteArray() << QByteArray(1024, 'x') << int(FtpClientControl::ProtocolError);
}

void TestFtpProbe::boundedByTheTimeLimit()
{
    QFETCH(QByteArray, greeting);
    QFETCH(QByteArray, stream);
    QFETCH(int, code);

    TalkativePeer server(greeting, stream);
    {
        FtpClientControl client;
        QCOMPARE(aim(client, server.port(), 1).Login(), code);
    }
    // The client gave up while the server was still there.
    QVERIFY(server.clientLeft());
}

void TestFtpProbe::probeAgainstRealServer_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<bool>("loggedOn");
    QTest::newRow("anonymous logons allowed") << "anonymous" << true;
    QTest::newRow("anonymous logons refused") << "named-only" << false;
}

void TestFtpProbe::probeAgainstRealServer()
{
    QFETCH(QString, mode);
    QFETCH(bool, loggedOn);
    if (::geteuid() != 0)
        QSKIP("the FTP port 21 can only be bound as root");

    const QString address = privateLoopbackAddress();
    const PythonPeer server(QStringLiteral("ftp_server.py"), QStringList{address, QStringLiteral("21"), mode});
    QVERIFY2(server.isReady(), qPrintable(server.errorText()));
    FtpProbe probe([] { return 15; });
    // A second logon on the same client answers the same.
    for (int attempt = 0; attempt < 2; ++attempt) {
        QCOMPARE(probe.Check_FTP(address, QStringLiteral("anonymous"), QStringLiteral("guestpass"), 10), loggedOn);
        QVERIFY(!probe.FtpClient1().IsConnected());
    }
}

void TestFtpProbe::blankHostLeavesTheClientAlone()
{
    ScriptedPeer server(QByteArray("220 ready\r\n"), Lines{"230 welcome\r\n"});
    FtpProbe probe([] { return 15; });
    QCOMPARE(aim(probe.FtpClient1(), server.port(), 5).Login(), 0);

    QVERIFY(!probe.Check_FTP(QStringLiteral("  "), QStringLiteral("anonymous"), QStringLiteral("guestpass"), 5));
    QVERIFY(probe.FtpClient1().IsConnected());
    QCOMPARE(server.received(200), Lines{"USER anonymous"});
}

void TestFtpProbe::logonOverIPv6()
{
    for (const char *host : {"::1", "[::1]"}) {
        ScriptedPeer server(QByteArray("220 ready\r\n"), Lines{"230 welcome\r\n"}, QStringLiteral("::1"));
        FtpClientControl client;
        QCOMPARE(aim(client, server.port(), 5, QStringLiteral("anonymous"), QString::fromLatin1(host)).Login(), 0);
        client.Disconnect();
        QTRY_VERIFY_WITH_TIMEOUT(!client.IsConnected(), 5000);
        QCOMPARE(server.received(5000), (Lines{"USER anonymous", "QUIT"}));
    }
}

QTEST_GUILESS_MAIN(TestFtpProbe)
#include "tst_ftpprobe.moc"
