// The SMTP client against a real SMTP server on loopback: line ends and
// dot-stuffing across written pieces, the 2048 limit, HELO fallback and the
// forms of the server text.
#include "LoopbackPeers.h"
#include "SmtpServer.h"
#include "actions/SmtpClientControl.h"

#include <QSignalSpy>
#include <QTest>
#include <optional>

namespace {

// Connects and waits (bounded) for the outcome; true when OnConnected came.
// Notifications must come through the event loop, never from inside Connect.
bool connectTo(SmtpClientControl &client, const QString &server)
{
    QSignalSpy connected(&client, &SmtpClientControl::OnConnected);
    QSignalSpy failed(&client, &SmtpClientControl::OnError);
    client.SetHostName(server);
    client.Connect();
    if (!connected.isEmpty() || !failed.isEmpty())
        return false;
    for (int pass = 0; pass < 1000 && connected.isEmpty() && failed.isEmpty(); ++pass)
        QTest::qWait(20);
    return connected.size() == 1 && failed.isEmpty();
}

// Connected, sender and one recipient accepted.
bool beginMail(SmtpClientControl &client, const SmtpServer &server)
{
    if (!server.isRunning() || !connectTo(client, server.address()))
        return false;
    client.SetFrom(QStringLiteral("ostrel@test"));
    if (client.BeginMessage() != 0)
        return false;
    client.SetRecipient(QStringLiteral("ops@test"));
    return true;
}

} // namespace

class TestSmtpClient : public QObject
{
    Q_OBJECT
private slots:
    void pieces_data();
    void pieces();
    void writeTakesAtMostTheLimit();
    void heloWhenEhloIsRefused();
    void serverText_data();
    void serverText();
};

void TestSmtpClient::pieces_data()
{
    QTest::addColumn<QStringList>("pieces");
    QTest::addColumn<QString>("received");

    QTest::newRow("dot at a line start, in the next write")
        << QStringList{"line one\r\n", ".hidden\r\n"} << "line one\r\n.hidden\r\n";
    QTest::newRow("lone dot line split over three writes")
        << QStringList{"x\r", "\n.", "\r\nafter"} << "x\r\n.\r\nafter\r\n";
    QTest::newRow("dot after a CR that ends a write") << QStringList{"x\r", ".y"} << "x\r\n.y\r\n";
    QTest::newRow("bare LF and bare CR") << QStringList{"a\nb\rc\r\r\nd"} << "a\r\nb\r\nc\r\n\r\nd\r\n";
    QTest::newRow("dot inside a line, at a write's start") << QStringList{"a.", ".b"} << "a..b\r\n";
}

void TestSmtpClient::pieces()
{
    QFETCH(QStringList, pieces);
    QFETCH(QString, received);

    SmtpServer server;
    SmtpClientControl client;
    QVERIFY2(beginMail(client, server), qPrintable(server.failure()));
    for (const QString &piece : pieces)
        QCOMPARE(client.Write(piece, SmtpClientControl::kLargestPiece), int(piece.size()));
    QCOMPARE(client.EndMessage(), 0);
    client.Quit();

    const auto messages = server.messages();
    QCOMPARE(messages.size(), 1);
    QCOMPARE(messages.at(0).mailFrom, QStringLiteral("ostrel@test"));
    QCOMPARE(messages.at(0).rcptTos, QStringList{"ops@test"});
    QCOMPARE(messages.at(0).data, received);
}

void TestSmtpClient::writeTakesAtMostTheLimit()
{
    SmtpServer server;
    SmtpClientControl client;
    QVERIFY2(beginMail(client, server), qPrintable(server.failure()));

    // Lines of 62 characters, each beginning with ".", and at the piece
    // boundaries (100 first, then 2048 at a time): a line break split between
    // two writes before a dot, a character outside the basic plane that must
    // not be parted, a line break ending one write and a dot beginning the next.
    QString text;
    for (int line = 0; text.size() < 7000; ++line)
        text += QStringLiteral(".line %1 ").arg(line, 4, 10, QLatin1Char('0')).leftJustified(60, QLatin1Char('x'))
            + QStringLiteral("\r\n");
    text.replace(2147, 3, QStringLiteral("\r\n."));
    const QChar smile[] = {QChar(0xd83d), QChar(0xde00)};
    text.replace(4195, 2, smile, 2);
    text.replace(6241, 3, QStringLiteral("\r\n."));

    QString remaining = text;
    QList<int> counts;
    for (int limit = 100; !remaining.isEmpty() && counts.size() < 10; limit = SmtpClientControl::kLargestPiece) {
        counts << client.Write(remaining, limit);
        QVERIFY(counts.last() > 0);
        remaining.remove(0, counts.last());
    }
    QCOMPARE(counts.mid(0, 4), (QList<int>{100, 2048, 2047, 2048}));
    QCOMPARE(client.EndMessage(), 0);

    const auto messages = server.messages();
    QCOMPARE(messages.size(), 1);
    QCOMPARE(messages.at(0).data, text);
}

void TestSmtpClient::heloWhenEhloIsRefused()
{
    SmtpServer::Options options;
    options.noEhlo = true;
    SmtpServer server(options);
    SmtpClientControl client;
    QVERIFY2(beginMail(client, server), qPrintable(server.failure()));
    QCOMPARE(client.Write(QStringLiteral("Subject: hello\r\n\r\nbody"), 2048), 22);
    QCOMPARE(client.EndMessage(), 0);
    client.Quit();
    QCOMPARE(server.messages().size(), 1);
}

void TestSmtpClient::serverText_data()
{
    QTest::addColumn<QString>("listen");   // a server's host, or "" for none
    QTest::addColumn<int>("listenPort");   // 0: a free one
    QTest::addColumn<QString>("text");     // %1: the port listened on

    QTest::newRow("no port: 25, blanks around") << privateLoopbackAddress() << 25 << " %h ";
    QTest::newRow("IPv6 in brackets") << "::1" << 0 << "[::1]:%1";
    QTest::newRow("blanks") << "" << 0 << "   ";
    QTest::newRow("port 0") << "" << 0 << "127.0.0.1:0";
    QTest::newRow("port above 65535") << "" << 0 << "127.0.0.1:70000";
    QTest::newRow("unclosed bracket") << "" << 0 << "[::1:25";
}

void TestSmtpClient::serverText()
{
    QFETCH(QString, listen);
    QFETCH(int, listenPort);
    QFETCH(QString, text);

    std::optional<SmtpServer> server;
    if (!listen.isEmpty()) {
        SmtpServer::Options options;
        options.host = listen;
        options.port = static_cast<quint16>(listenPort);
        server.emplace(options);
        if (!server->isRunning())
            QSKIP(qPrintable(QStringLiteral("no server on %1 here").arg(listen)));
        text.replace(QStringLiteral("%1"), QString::number(server->port())).replace(QStringLiteral("%h"), listen);
    }

    SmtpClientControl client;
    QSignalSpy connected(&client, &SmtpClientControl::OnConnected);
    QSignalSpy failed(&client, &SmtpClientControl::OnError);
    client.SetHostName(text);
    client.Connect();
    QVERIFY(connected.isEmpty() && failed.isEmpty());   // only ever through the event loop
    QTRY_VERIFY_WITH_TIMEOUT(!connected.isEmpty() || !failed.isEmpty(), 20000);
    if (server) {
        QCOMPARE(connected.size(), 1);
        client.SetFrom(QStringLiteral("ostrel@test"));
        QCOMPARE(client.BeginMessage(), 0);
        client.Quit();
        QCOMPARE(server->connections(), 1);
        return;
    }
    QCOMPARE(failed.size(), 1);
    QCOMPARE(connected.size(), 0);
    QCOMPARE(failed.at(0).at(0).toInt(), int(SmtpClientControl::AddressNotAvailable));
    QCOMPARE(failed.at(0).at(2).toString(), text);
    // No session: every call fails at once, nothing hangs.
    client.SetFrom(QStringLiteral("ostrel@test"));
    QCOMPARE(client.BeginMessage(), int(SmtpClientControl::Failed));
    QVERIFY_THROWS_EXCEPTION(SmtpFailure, client.SetRecipient(QStringLiteral("ops@test")));
    QCOMPARE(client.Write(QStringLiteral("text"), 2048), int(SmtpClientControl::Failed));
    QCOMPARE(client.EndMessage(), int(SmtpClientControl::Failed));
    QCOMPARE(client.Quit(), 0);
}

QTEST_GUILESS_MAIN(TestSmtpClient)
#include "tst_smtpclient.moc"
