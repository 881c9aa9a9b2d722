// The SMTP client against a real SMTP server on loopback: the dialogue, the
// line ends and dot-stuffing across written pieces, and every way a server
// can refuse or fail.
#include "LoopbackPeers.h"
#include "SmtpServer.h"
#include "actions/SmtpClientControl.h"

#include <QDeadlineTimer>
#include <QSignalSpy>
#include <QTest>

namespace {

// Processes events until one of the client's notifications arrived; bounded.
void waitForNotification(const QSignalSpy &connected, const QSignalSpy &failed, int timeoutMs = 20000)
{
    const QDeadlineTimer deadline(timeoutMs);
    while (connected.isEmpty() && failed.isEmpty() && !deadline.hasExpired())
        QTest::qWait(20);
}

// Connects and waits for the outcome; true when OnConnected came.
bool connectTo(SmtpClientControl &client, const QString &server)
{
    QSignalSpy connected(&client, &SmtpClientControl::OnConnected);
    QSignalSpy failed(&client, &SmtpClientControl::OnError);
    client.Reset();
    client.SetHostName(server);
    if (client.Connect() != 0)
        return false;
    waitForNotification(connected, failed);
    return connected.size() == 1 && failed.isEmpty();
}

// Writes the whole piece the way the mail sender does; false on any failure.
bool writeAll(SmtpClientControl &client, QString piece)
{
    while (!piece.isEmpty()) {
        const int taken = client.Write(piece, SmtpClientControl::kLargestPiece);
        if (taken <= 0)
            return false;
        piece.remove(0, taken);
    }
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
    void handshake_data();
    void handshake();
    void defaultPortIs25();
    void ipv6AddressInBrackets();
    void unusableServerText_data();
    void unusableServerText();
    void refusedConnection();
    void senderRejected();
    void recipientRejected();
    void addressWithLineBreakNeverReachesTheServer();
    void callsWithoutSessionFail();
    void droppedInData();
};

void TestSmtpClient::pieces_data()
{
    QTest::addColumn<QStringList>("pieces");
    QTest::addColumn<QString>("received");

    QTest::newRow("dot at a line start, in the next write")
        << QStringList{"line one\r\n", ".hidden\r\n"} << "line one\r\n.hidden\r\n";
    QTest::newRow("a lone dot line") << QStringList{"x\r\n.\r\ny"} << "x\r\n.\r\ny\r\n";
    QTest::newRow("lone dot line split over three writes")
        << QStringList{"x\r", "\n.", "\r\nafter"} << "x\r\n.\r\nafter\r\n";
    QTest::newRow("dot after a CR that ends a write") << QStringList{"x\r", ".y"} << "x\r\n.y\r\n";
    QTest::newRow("dot at the very start") << QStringList{".start"} << ".start\r\n";
    QTest::newRow("CR and LF in different writes") << QStringList{"a\r", "\nb"} << "a\r\nb\r\n";
    QTest::newRow("bare LF and bare CR") << QStringList{"a\nb\rc\r\r\nd"} << "a\r\nb\r\nc\r\n\r\nd\r\n";
    QTest::newRow("ends in a line break") << QStringList{"a\r\n"} << "a\r\n";
    QTest::newRow("dot inside a line stays single") << QStringList{"a.b\r\n", "c."} << "a.b\r\nc.\r\n";
    QTest::newRow("text beyond ASCII") << QStringList{QString::fromUtf8("Grüße 東京 😀")}
                                       << QString::fromUtf8("Grüße 東京 😀\r\n");
}

void TestSmtpClient::pieces()
{
    QFETCH(QStringList, pieces);
    QFETCH(QString, received);

    SmtpServer server;
    QVERIFY2(server.isRunning(), qPrintable(server.failure()));
    SmtpClientControl client;
    QVERIFY(connectTo(client, server.address()));
    client.SetFrom(QStringLiteral("ostrel@test"));
    QCOMPARE(client.BeginMessage(), 0);
    client.SetRecipient(QStringLiteral("ops@test"));
    for (const QString &piece : pieces)
        QVERIFY(writeAll(client, piece));
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
    QVERIFY2(server.isRunning(), qPrintable(server.failure()));
    SmtpClientControl client;
    QVERIFY(connectTo(client, server.address()));
    client.SetFrom(QStringLiteral("ostrel@test"));
    QCOMPARE(client.BeginMessage(), 0);
    client.SetRecipient(QStringLiteral("ops@test"));

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
    counts << client.Write(remaining, 100);
    remaining.remove(0, counts.last());
    while (!remaining.isEmpty()) {
        counts << client.Write(remaining, SmtpClientControl::kLargestPiece);
        QVERIFY(counts.last() > 0);
        remaining.remove(0, counts.last());
    }
    QCOMPARE(counts.mid(0, 4), (QList<int>{100, 2048, 2047, 2048}));
    QCOMPARE(client.EndMessage(), 0);

    const auto messages = server.messages();
    QCOMPARE(messages.size(), 1);
    QCOMPARE(messages.at(0).data, text);
}

void TestSmtpClient::handshake_data()
{
    QTest::addColumn<bool>("multilineGreeting");
    QTest::addColumn<bool>("noEhlo");
    QTest::newRow("one-line greeting, EHLO") << false << false;
    QTest::newRow("multi-line greeting") << true << false;
    QTest::newRow("EHLO refused, HELO instead") << false << true;
}

void TestSmtpClient::handshake()
{
    QFETCH(bool, multilineGreeting);
    QFETCH(bool, noEhlo);
    SmtpServer::Options options;
    options.multilineGreeting = multilineGreeting;
    options.noEhlo = noEhlo;
    SmtpServer server(options);
    QVERIFY2(server.isRunning(), qPrintable(server.failure()));

    SmtpClientControl client;
    QSignalSpy connected(&client, &SmtpClientControl::OnConnected);
    client.SetHostName(server.address());
    QCOMPARE(client.Connect(), 0);
    QCOMPARE(connected.size(), 0);   // only ever through the event loop
    QVERIFY(connectTo(client, server.address()));

    client.SetFrom(QStringLiteral("ostrel@test"));
    QCOMPARE(client.BeginMessage(), 0);
    client.SetRecipient(QStringLiteral("ops@test"));
    QVERIFY(writeAll(client, QStringLiteral("Subject: hello\r\n\r\nbody")));
    QCOMPARE(client.EndMessage(), 0);
    client.Quit();
    QCOMPARE(server.messages().size(), 1);
}

void TestSmtpClient::defaultPortIs25()
{
    SmtpServer::Options options;
    options.host = QStringLiteral("127.0.0.2");
    options.port = 25;
    SmtpServer server(options);
    if (!server.isRunning())
        QSKIP("port 25 on 127.0.0.2 is not free here");
    SmtpClientControl client;
    QVERIFY(connectTo(client, QStringLiteral(" 127.0.0.2 ")));
    client.Quit();
    QCOMPARE(server.connections(), 1);
}

void TestSmtpClient::ipv6AddressInBrackets()
{
    SmtpServer::Options options;
    options.host = QStringLiteral("::1");
    SmtpServer server(options);
    if (!server.isRunning())
        QSKIP("no IPv6 loopback here");
    SmtpClientControl client;
    QVERIFY(connectTo(client, QStringLiteral("[::1]:%1").arg(server.port())));
    client.SetFrom(QStringLiteral("ostrel@test"));
    QCOMPARE(client.BeginMessage(), 0);
    client.Quit();
    QCOMPARE(server.connections(), 1);
}

void TestSmtpClient::unusableServerText_data()
{
    QTest::addColumn<QString>("server");
    QTest::newRow("empty") << "";
    QTest::newRow("blanks") << "   ";
    QTest::newRow("port that is no number") << "127.0.0.1:smtp";
    QTest::newRow("port 0") << "127.0.0.1:0";
    QTest::newRow("port above 65535") << "127.0.0.1:70000";
    QTest::newRow("unclosed bracket") << "[::1:25";
}

void TestSmtpClient::unusableServerText()
{
    QFETCH(QString, server);
    SmtpClientControl client;
    QSignalSpy connected(&client, &SmtpClientControl::OnConnected);
    QSignalSpy failed(&client, &SmtpClientControl::OnError);
    client.SetHostName(server);
    QVERIFY(client.Connect() != 0);
    QCOMPARE(failed.size(), 0);   // posted, never raised from inside the call
    QVERIFY(failed.wait(5000));
    QCOMPARE(failed.size(), 1);
    QCOMPARE(failed.at(0).size(), 3);
    QCOMPARE(failed.at(0).at(2).toString(), server);
    QCOMPARE(connected.size(), 0);
}

void TestSmtpClient::refusedConnection()
{
    const LoopbackPort port = LoopbackPort::refused();
    SmtpClientControl client;
    QSignalSpy connected(&client, &SmtpClientControl::OnConnected);
    QSignalSpy failed(&client, &SmtpClientControl::OnError);
    client.SetHostName(QStringLiteral("127.0.0.1:%1").arg(port.port()));
    QCOMPARE(client.Connect(), 0);
    waitForNotification(connected, failed);
    QCOMPARE(failed.size(), 1);
    QCOMPARE(failed.at(0).at(0).toInt(), int(SmtpClientControl::ConnectionRefused));
    QCOMPARE(connected.size(), 0);
    client.SetFrom(QStringLiteral("ostrel@test"));
    QCOMPARE(client.BeginMessage(), int(SmtpClientControl::Failed));
}

void TestSmtpClient::senderRejected()
{
    SmtpServer::Options options;
    options.rejectSender = true;
    SmtpServer server(options);
    QVERIFY2(server.isRunning(), qPrintable(server.failure()));
    SmtpClientControl client;
    QVERIFY(connectTo(client, server.address()));
    client.SetFrom(QStringLiteral("ostrel@test"));
    QCOMPARE(client.BeginMessage(), 550);
    QVERIFY_THROWS_EXCEPTION(SmtpFailure, client.SetRecipient(QStringLiteral("ops@test")));
    QVERIFY(client.Write(QStringLiteral("text"), 2048) < 0);
    QVERIFY(client.EndMessage() != 0);
    client.Quit();
    QVERIFY(server.messages().isEmpty());
}

void TestSmtpClient::recipientRejected()
{
    SmtpServer::Options options;
    options.rejectRecipients = QStringList{"nobody@test"};
    SmtpServer server(options);
    QVERIFY2(server.isRunning(), qPrintable(server.failure()));
    SmtpClientControl client;
    QVERIFY(connectTo(client, server.address()));
    client.SetFrom(QStringLiteral("ostrel@test"));
    QCOMPARE(client.BeginMessage(), 0);
    try {
        client.SetRecipient(QStringLiteral("nobody@test"));
        QFAIL("a refused recipient raises a failure");
    } catch (const SmtpFailure &failure) {
        QCOMPARE(failure.code(), 550);
    }
    // With no recipient at all the server refuses the message text.
    QVERIFY(client.Write(QStringLiteral("text"), 2048) < 0);
    client.Quit();
    QVERIFY(server.messages().isEmpty());
}

void TestSmtpClient::addressWithLineBreakNeverReachesTheServer()
{
    SmtpServer server;
    QVERIFY2(server.isRunning(), qPrintable(server.failure()));
    SmtpClientControl client;
    QVERIFY(connectTo(client, server.address()));

    client.SetFrom(QStringLiteral("ostrel@test>\r\nRSET"));
    QCOMPARE(client.BeginMessage(), int(SmtpClientControl::Failed));
    client.SetFrom(QStringLiteral("ostrel@test"));
    QCOMPARE(client.BeginMessage(), 0);
    QVERIFY_THROWS_EXCEPTION(SmtpFailure, client.SetRecipient(QStringLiteral("a@test>\r\nRCPT TO:<b@test")));
    QVERIFY_THROWS_EXCEPTION(SmtpFailure, client.SetRecipient(QString()));
    client.SetRecipient(QStringLiteral("ops@test"));
    QVERIFY(writeAll(client, QStringLiteral("body")));
    QCOMPARE(client.EndMessage(), 0);
    client.Quit();

    const auto messages = server.messages();
    QCOMPARE(messages.size(), 1);
    QCOMPARE(messages.at(0).mailFrom, QStringLiteral("ostrel@test"));
    QCOMPARE(messages.at(0).rcptTos, QStringList{"ops@test"});
}

void TestSmtpClient::callsWithoutSessionFail()
{
    SmtpClientControl client;
    client.SetFrom(QStringLiteral("ostrel@test"));
    QCOMPARE(client.BeginMessage(), int(SmtpClientControl::Failed));
    QVERIFY_THROWS_EXCEPTION(SmtpFailure, client.SetRecipient(QStringLiteral("ops@test")));
    QCOMPARE(client.Write(QStringLiteral("text"), 2048), int(SmtpClientControl::Failed));
    QCOMPARE(client.EndMessage(), int(SmtpClientControl::Failed));
    QCOMPARE(client.Quit(), 0);
}

void TestSmtpClient::droppedInData()
{
    SmtpServer::Options options;
    options.dropInData = true;
    SmtpServer server(options);
    QVERIFY2(server.isRunning(), qPrintable(server.failure()));
    SmtpClientControl client;
    QSignalSpy failed(&client, &SmtpClientControl::OnError);
    QVERIFY(connectTo(client, server.address()));
    client.SetFrom(QStringLiteral("ostrel@test"));
    QCOMPARE(client.BeginMessage(), 0);
    client.SetRecipient(QStringLiteral("ops@test"));

    // Enough text that the loss is seen while writing or at the end at the latest.
    const QString text = QStringLiteral("Subject: dropped\r\n\r\n") + QString(60000, QLatin1Char('x')).replace(
        QRegularExpression(QStringLiteral("(x{70})")), QStringLiteral("\\1\r\n"));
    bool writeFailed = false;
    QString remaining = text;
    while (!remaining.isEmpty() && !writeFailed) {
        const int taken = client.Write(remaining, SmtpClientControl::kLargestPiece);
        writeFailed = taken <= 0;
        if (!writeFailed)
            remaining.remove(0, taken);
    }
    QVERIFY(writeFailed || client.EndMessage() != 0);
    QVERIFY(!failed.isEmpty() || failed.wait(5000));
    client.Quit();
    QVERIFY(server.messages().isEmpty());
}

QTEST_GUILESS_MAIN(TestSmtpClient)
#include "tst_smtpclient.moc"
