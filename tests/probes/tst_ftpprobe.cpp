// The FTP logon: the client's dialogue against scripted peers, and the probe
// against a real FTP server listening on port 21 of a loopback address.
#include "LoopbackPeers.h"
#include "PythonPeer.h"
#include "probes/FtpProbe.h"

#include <QTest>
#include <unistd.h>

using Lines = QList<QByteArray>;

static int logOn(quint16 port, int seconds, const QString &user = "anonymous", const QString &host = "127.0.0.1")
{
    FtpClientControl client;
    client.SetTimeout(static_cast<qint16>(seconds));
    client.SetHostName(host);
    client.SetRemotePort(port);
    client.SetUserName(user);
    client.SetPassword(QStringLiteral("guestpass"));
    const int code = client.Login();
    client.Disconnect();   // QUIT goes out before the connection closes
    for (int pass = 0; pass < 50 && client.IsConnected(); ++pass)
        QTest::qWait(100);
    return code;
}

class TestFtpProbe : public QObject
{
    Q_OBJECT
private slots:
    void dialogue_data()
    {
        QTest::addColumn<QString>("host");
        QTest::addColumn<QByteArray>("greeting");
        QTest::addColumn<Lines>("replies");
        QTest::addColumn<QString>("user");
        QTest::addColumn<int>("code");
        QTest::addColumn<Lines>("sent");

        const QString v4 = QStringLiteral("127.0.0.1");
        const QByteArray ready("220 ready\r\n");
        const QString anonymous = QStringLiteral("anonymous");
        const Lines both{"USER anonymous", "PASS guestpass", "QUIT"};
        const Lines userOnly{"USER anonymous", "QUIT"};
        QTest::newRow("password asked and accepted")
            << v4 << ready << Lines{"331 password please\r\n", "230 welcome\r\n"} << anonymous << 0 << both;
        QTest::newRow("no password needed, IPv6")
            << "[::1]" << ready << Lines{"230 welcome\r\n"} << anonymous << 0 << userOnly;
        QTest::newRow("multi-line replies")
            << v4 << QByteArray("220-first line\r\n220-second line\r\n 220 not the end\r\n220 ready\r\n")
            << Lines{"331 password please\r\n", "230-welcome\r\n230 logged in\r\n"} << anonymous << 0 << both;
        QTest::newRow("wait, then greeting") << v4 << QByteArray("120 ready in 1 minute\r\n220 ready\r\n")
                                             << Lines{"230 welcome\r\n"} << anonymous << 0 << userOnly;
        QTest::newRow("bare line feeds")
            << v4 << QByteArray("220-first\n220 ready\n") << Lines{"230 welcome\n"} << anonymous << 0 << userOnly;
        QTest::newRow("logon refused")
            << v4 << ready << Lines{"331 password please\r\n", "530 not allowed\r\n"} << anonymous << 530 << both;
        QTest::newRow("user refused at once")
            << v4 << ready << Lines{"530 go away\r\n"} << anonymous << 530 << userOnly;
        QTest::newRow("not an FTP server") << v4 << QByteArray("SSH-2.0-OpenSSH_9.2\r\n") << Lines{} << anonymous
                                           << int(FtpClientControl::ProtocolError) << Lines{"QUIT"};
        QTest::newRow("line breaks in the user name stay on one line")
            << v4 << ready << Lines{"530 go away\r\n"} << "anonymous\r\nDELE x" << 530
            << Lines{"USER anonymousDELE x", "QUIT"};
        QTest::newRow("line longer than any reply") << v4 << QByteArray(FtpClientControl::kLongestLine + 2, 'x')
                                                    << Lines{} << anonymous << int(FtpClientControl::ProtocolError)
                                                    << Lines{"QUIT"};
    }

    void dialogue()
    {
        QFETCH(QString, host);
        QFETCH(QByteArray, greeting);
        QFETCH(Lines, replies);
        QFETCH(QString, user);
        QFETCH(int, code);
        QFETCH(Lines, sent);

        ScriptedPeer server(greeting, replies, host.contains(QLatin1Char(':')) ? QStringLiteral("::1") : host);
        QCOMPARE(logOn(server.port(), 5, user, host), code);
        QCOMPARE(server.received(5000), sent);
    }

    void probeAgainstRealServer_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<bool>("loggedOn");
        QTest::newRow("anonymous logons allowed") << "anonymous" << true;
        QTest::newRow("anonymous logons refused") << "named-only" << false;
    }

    void probeAgainstRealServer()
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
            QCOMPARE(probe.Check_FTP(address, QStringLiteral("anonymous"), QStringLiteral("guestpass"), 10),
                     loggedOn);
            QVERIFY(!probe.FtpClient1().IsConnected());
        }
    }
};

QTEST_GUILESS_MAIN(TestFtpProbe)
#include "tst_ftpprobe.moc"
