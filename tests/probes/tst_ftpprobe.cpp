// The FTP logon: the client's dialogue against scripted peers, and the probe
// against a real FTP server listening on port 21 of a loopback address.
#include "LoopbackPeers.h"
#include "PythonPeer.h"
#include "probes/FtpProbe.h"

#include <QTest>
#include <unistd.h>

namespace {

const QString kLoopback = QStringLiteral("127.0.0.1");

TimeoutBarReader bar(int seconds)
{
    return [seconds] { return seconds; };
}

using Lines = QList<QByteArray>;

} // namespace

class TestFtpProbe : public QObject
{
    Q_OBJECT
private slots:
    void dialogue_data();
    void dialogue();
    void silentServerEndsWithinTheTimeLimit();
    void refusedPort();
    void probeAgainstRealServer_data();
    void probeAgainstRealServer();
    void probeOfSilentService();
    void blankHostLeavesTheClientAlone();
};

void TestFtpProbe::dialogue_data()
{
    QTest::addColumn<QByteArray>("greeting");
    QTest::addColumn<Lines>("replies");
    QTest::addColumn<QString>("user");
    QTest::addColumn<int>("code");
    QTest::addColumn<Lines>("sent");

    QTest::newRow("password asked and accepted")
        << QByteArray("220 ready\r\n") << Lines{"331 password please\r\n", "230 welcome\r\n"}
        << "anonymous" << 0 << Lines{"USER anonymous", "PASS guestpass", "QUIT"};
    QTest::newRow("no password needed")
        << QByteArray("220 ready\r\n") << Lines{"230 welcome\r\n"} << "anonymous" << 0
        << Lines{"USER anonymous", "QUIT"};
    QTest::newRow("multi-line greeting")
        << QByteArray("220-first line\r\n220-second line\r\n 220 not the end\r\n220 ready\r\n")
        << Lines{"331 password please\r\n", "230 welcome\r\n"} << "anonymous" << 0
        << Lines{"USER anonymous", "PASS guestpass", "QUIT"};
    QTest::newRow("wait, then greeting")
        << QByteArray("120 ready in 1 minute\r\n220 ready\r\n") << Lines{"230 welcome\r\n"} << "anonymous" << 0
        << Lines{"USER anonymous", "QUIT"};
    QTest::newRow("greeting split by bare line feeds")
        << QByteArray("220-first\n220 ready\n") << Lines{"230 welcome\n"} << "anonymous" << 0
        << Lines{"USER anonymous", "QUIT"};
    QTest::newRow("multi-line welcome after the password")
        << QByteArray("220 ready\r\n") << Lines{"331 password please\r\n", "230-welcome\r\n230 logged in\r\n"}
        << "anonymous" << 0 << Lines{"USER anonymous", "PASS guestpass", "QUIT"};
    QTest::newRow("logon refused")
        << QByteArray("220 ready\r\n") << Lines{"331 password please\r\n", "530 not allowed\r\n"}
        << "anonymous" << 530 << Lines{"USER anonymous", "PASS guestpass", "QUIT"};
    QTest::newRow("account needed")
        << QByteArray("220 ready\r\n") << Lines{"331 password please\r\n", "332 account please\r\n"}
        << "anonymous" << 332 << Lines{"USER anonymous", "PASS guestpass", "QUIT"};
    QTest::newRow("user refused at once")
        << QByteArray("220 ready\r\n") << Lines{"530 go away\r\n"} << "anonymous" << 530
        << Lines{"USER anonymous", "QUIT"};
    QTest::newRow("service not available")
        << QByteArray("421 too many users\r\n") << Lines{} << "anonymous" << 421 << Lines{"QUIT"};
    QTest::newRow("not an FTP server")
        << QByteArray("SSH-2.0-OpenSSH_9.2\r\n") << Lines{} << "anonymous" << int(FtpClientControl::ProtocolError)
        << Lines{"QUIT"};
    QTest::newRow("reply code 000 is no success")
        << QByteArray("000 hello\r\n") << Lines{} << "anonymous" << int(FtpClientControl::ProtocolError)
        << Lines{"QUIT"};
    QTest::newRow("line breaks in the user name stay on one line")
        << QByteArray("220 ready\r\n") << Lines{"530 go away\r\n"} << "anonymous\r\nDELE x" << 530
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
    client.SetTimeout(5);
    client.SetHostName(kLoopback);
    client.SetRemotePort(server.port());
    client.SetUserName(user);
    client.SetPassword(QStringLiteral("guestpass"));
    QCOMPARE(client.Login(), code);
    QVERIFY(client.IsConnected());
    client.Disconnect();
    for (int pass = 0; pass < 50 && client.IsConnected(); ++pass)
        QTest::qWait(100);
    QVERIFY(!client.IsConnected());
    QCOMPARE(server.received(5000), sent);
}

void TestFtpProbe::silentServerEndsWithinTheTimeLimit()
{
    const LoopbackPort silent = LoopbackPort::open();
    FtpClientControl client;
    client.SetTimeout(1);
    client.SetHostName(kLoopback);
    client.SetRemotePort(silent.port());
    QCOMPARE(client.Login(), int(FtpClientControl::TimedOut));

    // A greeting that never ends is just as bounded.
    ScriptedPeer endless(QByteArray("220-first line of many\r\n"), {});
    client.SetRemotePort(endless.port());
    QCOMPARE(client.Login(), int(FtpClientControl::TimedOut));
}

void TestFtpProbe::refusedPort()
{
    const LoopbackPort refused = LoopbackPort::refused();
    FtpClientControl client;
    client.SetTimeout(5);
    client.SetHostName(kLoopback);
    client.SetRemotePort(refused.port());
    QCOMPARE(client.Login(), int(FtpClientControl::ConnectionRefused));
    QVERIFY(!client.IsConnected());
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
    PythonPeer server(QStringLiteral("ftp_server.py"), {address, QStringLiteral("21"), mode});
    QVERIFY2(server.isReady(), qPrintable(server.errorText()));
    FtpProbe probe(bar(15));
    QCOMPARE(probe.Check_FTP(address, QStringLiteral("anonymous"), QStringLiteral("guestpass"), 10), loggedOn);
    QVERIFY(!probe.FtpClient1().IsConnected());
    // A second logon on the same client answers the same.
    QCOMPARE(probe.Check_FTP(address, QStringLiteral("anonymous"), QStringLiteral("guestpass"), 10), loggedOn);
}

void TestFtpProbe::probeOfSilentService()
{
    if (::geteuid() != 0)
        QSKIP("the FTP port 21 can only be bound as root");
    const QString address = privateLoopbackAddress();
    const LoopbackPort silent = LoopbackPort::open(address, 21);
    FtpProbe probe(bar(15));
    QVERIFY(!probe.Check_FTP(address, QStringLiteral("anonymous"), QStringLiteral("guestpass"), 1));
    QVERIFY(!probe.FtpClient1().IsConnected());
}

void TestFtpProbe::blankHostLeavesTheClientAlone()
{
    ScriptedPeer server(QByteArray("220 ready\r\n"), Lines{"230 welcome\r\n"});
    FtpProbe probe(bar(15));
    probe.FtpClient1().SetTimeout(5);
    probe.FtpClient1().SetHostName(kLoopback);
    probe.FtpClient1().SetRemotePort(server.port());
    probe.FtpClient1().SetUserName(QStringLiteral("anonymous"));
    QCOMPARE(probe.FtpClient1().Login(), 0);

    QVERIFY(!probe.Check_FTP(QStringLiteral("  "), QStringLiteral("anonymous"), QStringLiteral("guestpass"), 5));
    QVERIFY(probe.FtpClient1().IsConnected());
    QCOMPARE(server.received(200), Lines{"USER anonymous"});
}

QTEST_GUILESS_MAIN(TestFtpProbe)
#include "tst_ftpprobe.moc"
