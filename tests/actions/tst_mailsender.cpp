// The result mail against real SMTP servers on loopback. The server refuses
// any message with a header defect, a sender without a domain or no
// Message-ID, so every mail that goes through here passed a mail reader.
#include "LoopbackPeers.h"
#include "SmtpServer.h"
#include "actions/MailSender.h"
#include "actions/ResultMail.h"
#include "probes/EventWait.h"

#include <QElapsedTimer>
#include <QFile>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

namespace {

// Sets an environment variable for one scope; the tests run without any of them.
auto scopedEnv(const char *name, const QByteArray &value)
{
    const QByteArray before = qgetenv(name);
    if (!value.isNull())
        qputenv(name, value);
    return qScopeGuard([name, before] { before.isNull() ? qunsetenv(name) : qputenv(name, before); });
}

bool send(MailSender &sender, const QString &server, const QString &recipients, const QString &body = "b")
{
    return sender.SMTPSEND(server, QStringLiteral("Ostrel"), QStringLiteral("s"), body, QString(), recipients);
}

QString lf(QString text)
{
    return text.replace(QStringLiteral("\r\n"), QStringLiteral("\n")).replace(QLatin1Char('\r'), QLatin1Char('\n'));
}

} // namespace

class TestMailSender : public QObject {
    Q_OBJECT
private slots:
    void resultMail_data();
    void resultMail();
    void nothingToSend();
    void sessions_data();
    void sessions();
    void wholeMailBound();
    void abandonedMailStopsAtOnce();
};

void TestMailSender::resultMail_data()
{
    QTest::addColumn<QString>("device");
    QTest::addColumn<bool>("passed");
    QTest::addColumn<QByteArray>("mailFrom"); // OSTREL_MAIL_FROM
    QTest::addColumn<QString>("seen"); // the device in the subject, as a reader sees it
    const QString beyond = QString::fromUtf8("Gerät-Köln-東京-😀-").repeated(6);
    QTest::newRow("failed") << "D" << false << QByteArray() << "D";
    QTest::newRow("passed, sender from the environment") << "D" << true << QByteArray("alerts@corp.example") << "D";
    QTest::newRow("line breaks and control characters") << QStringLiteral("D\x01"
                                                                          "E\r\nBcc: evil@test\nX-Injected: 1\r")
                                                        << true << QByteArray() << "D E  Bcc: evil@test X-Injected: 1 ";
    QTest::newRow("tabs and blank runs") << "a\t\t" + QString(200, ' ') + "b" << true << QByteArray()
                                         << "a  " + QString(200, ' ') + "b";
    QTest::newRow("beyond ASCII") << beyond << true << QByteArray() << beyond;
}

void TestMailSender::resultMail()
{
    QFETCH(QString, device);
    QFETCH(bool, passed);
    QFETCH(QByteArray, mailFrom);
    const auto from = scopedEnv("OSTREL_MAIL_FROM", mailFrom);
    SmtpServer server;
    QVERIFY2(server.isRunning(), qPrintable(server.failure()));
    MailSender sender;
    QVERIFY2(modCommand::Send_ResultMail(sender, server.address(), "ops@test", "23", device, passed),
        qPrintable(sender.lastFailure()));

    const auto messages = server.messages();
    QCOMPARE(messages.size(), 1);
    const auto &message = messages.at(0);
    QVERIFY2(mailFrom.isEmpty() ? message.mailFrom.startsWith("ostrel@") : message.mailFrom == mailFrom,
        qPrintable(message.mailFrom));
    QCOMPARE(message.rcptTos, QStringList { "ops@test" });
    QCOMPARE(message.header("From"), QStringList { "Ostrel <" + message.mailFrom + ">" });
    QFETCH(QString, seen);
    QCOMPARE(message.header("Subject"),
        QStringList { (passed ? "Port Check Passed on device " : "Port Check Failed on device ") + seen });
    QCOMPARE(message.header("Message-ID").size(), 1);
    // In the body a line break is only text.
    QCOMPARE(
        lf(message.body), lf("Port 23 on device " + device + (passed ? " is available.\n" : " is un-available.\n")));
    QCOMPARE(server.count("quit"), 1);
}

// Blank server and recipients: nothing to do; only one of them: a failure, and no connection.
void TestMailSender::nothingToSend()
{
    SmtpServer server;
    MailSender sender;
    QVERIFY(modCommand::Send_ResultMail(sender, "  ", "  ", "23", "D", true));
    QVERIFY(!modCommand::Send_ResultMail(sender, server.address(), "  ", "23", "D", true));
    QCOMPARE(sender.lastFailure(), QStringLiteral("no recipients given"));
    QVERIFY(!modCommand::Send_ResultMail(sender, "  ", "ops@test", "23", "D", true));
    QCOMPARE(server.count("connect"), 0);
}

void TestMailSender::sessions_data()
{
    QTest::addColumn<QString>("flags");
    QTest::addColumn<QString>("field"); // %1: the port
    QTest::addColumn<QString>("recipients");
    QTest::addColumn<QString>("failure"); // how the reason starts, "" when sent
    QTest::addColumn<QStringList>("delivered"); // envelope and To header of the one mail received, {} for none
    QTest::addColumn<int>("dataCommands");
    QTest::addColumn<int>("quits");
    const auto row = [](const char *name, const QString &flags, const QString &field, const QString &recipients,
                         const QString &failure, const QStringList &delivered, int data, int quits) {
        QTest::newRow(name) << flags << field << recipients << failure << delivered << data << quits;
    };
    const QString plain = "127.0.0.1:%1", starttls = "smtp://127.0.0.1:%1", tls = "smtps://127.0.0.1:%1";
    const QStringList ops { "ops@test" };
    QStringList many;
    for (int i = 0; i < 60; ++i)
        many << QStringLiteral("operator.number.%1@bü.example").arg(i);
    const QStringList manyAce = QStringList(many).replaceInStrings("bü", "xn--b-eha");
    row("empty entry leaves no trace", "", plain, "a@x,, b@y", "", { "a@x", "b@y" }, 1, 1);
    row("60 long addresses beyond ASCII, folded", "", plain, many.join(','), "", manyAce, 1, 1);
    row("local part beyond ASCII, SMTPUTF8", "--smtputf8", plain, "ops@b.c,jörg@b.c", "", { "ops@b.c", "jörg@b.c" }, 1,
        1);
    row("local part beyond ASCII, no SMTPUTF8", "", plain, "ops@b.c,jörg@b.c",
        "RCPT TO:<jörg@b.c> not sent: the server does not offer SMTPUTF8", { "ops@b.c" }, 1, 1);
    row("a line break in an entry", "", plain, "ops@test,\r\nCc: evil@test", "RCPT TO:<  Cc: evil@test> not sent", ops,
        1, 1);
    row("HELO when EHLO is refused", "--no-ehlo", plain, "ops@test", "", ops, 1, 1);
    row("a server name, looked up", "", "localhost:%1", "ops@test", "", ops, 1, 1);
    row("sender refused", "--reject-sender", plain, "ops@test", "MAIL FROM:<ostrel@", {}, 0, 1);
    row("every recipient refused: no DATA", "--reject-recipient a@test --reject-recipient b@test", plain,
        "a@test,b@test", "RCPT TO:<a@test> refused: 550", {}, 0, 1);
    row("dropped in DATA", "--drop-in-data", plain, "ops@test", "The remote host closed the connection", {}, 1, 0);
    row("STARTTLS", "--tls starttls", starttls, "ops@test", "", ops, 1, 1);
    row("TLS from the start", "--tls implicit", tls, "ops@test", "", ops, 1, 1);
    row("STARTTLS, wrong certificate", "--tls starttls --wrong-ca", starttls, "ops@test", "TLS with 127.0.0.1 failed",
        {}, 0, 0);
    row("TLS, wrong certificate", "--tls implicit --wrong-ca", tls, "ops@test", "TLS with 127.0.0.1 failed", {}, 0, 0);
    row("login from .netrc", "--tls starttls --login alerts:s3cret", "smtp://alerts@127.0.0.1:%1", "ops@test", "", ops,
        1, 1);
    row("login without naming the user", "--tls implicit --login alerts:s3cret", tls, "ops@test", "", ops, 1, 1);
    row("wrong password", "--tls starttls --login alerts:other", "smtp://alerts@127.0.0.1:%1", "ops@test",
        "AUTH refused: 535", {}, 0, 1);
    row("no password in .netrc", "--tls starttls --login alerts:s3cret", "smtp://ops@127.0.0.1:%1", "ops@test",
        "no password for ops at 127.0.0.1", {}, 0, 1);
}

void TestMailSender::sessions()
{
    QFETCH(QString, flags);
    QFETCH(QString, field);
    QFETCH(QString, recipients);
    QFETCH(QString, failure);
    QFETCH(QStringList, delivered);
    SmtpServer server(flags);
    QVERIFY2(server.isRunning(), qPrintable(server.failure()));
    QTemporaryDir home; // a .netrc only where the server asks for a login: the client logs in wherever it has one
    QFile netrc(home.filePath(".netrc"));
    if (flags.contains("--login"))
        QVERIFY(
            netrc.open(QIODevice::WriteOnly) && netrc.write("machine 127.0.0.1 login alerts password s3cret\n") > 0);
    netrc.close();
    const auto homeEnv = scopedEnv("HOME", home.path().toLocal8Bit());
    const auto trust = scopedEnv("SSL_CERT_FILE", server.caFile().toLocal8Bit());

    MailSender sender;
    const bool sent = send(sender, field.arg(server.port()), recipients, QString(5000, 'y'));
    QVERIFY2(sent == failure.isEmpty()
            && (failure.isEmpty() ? sender.lastFailure().isEmpty() : sender.lastFailure().startsWith(failure)),
        qPrintable(sender.lastFailure()));
    const auto messages = server.messages();
    QCOMPARE(messages.size(), delivered.isEmpty() ? 0 : 1);
    for (const auto &message : messages) {
        QCOMPARE(message.parseError, QString());
        QCOMPARE(message.rcptTos, delivered);
        QCOMPARE(message.to, delivered);
    }
    QTEST(server.count("data"), "dataCommands");
    QFETCH(int, quits);
    QTRY_COMPARE(server.count("quit"), quits);
}

// A server that answers every step just inside its limit is held to the
// bound on the whole mail; one that never greets, to the greeting bound.
void TestMailSender::wholeMailBound()
{
    // The bounds a hundred times shorter: greeting 100 ms, each reply 300 ms, the whole mail 1.2 s.
    const auto bounds = scopedEnv("OSTREL_TEST_MAIL_TIME_SCALE", "100");
    SmtpServer server("--delay 0.25");
    QVERIFY2(server.isRunning(), qPrintable(server.failure()));
    MailSender sender;
    QElapsedTimer clock;
    clock.start();
    QVERIFY(!send(sender, server.address(), "a@test,b@test,c@test,d@test"));
    QVERIFY2(clock.elapsed() < 1200 + 300, qPrintable(QString::number(clock.elapsed())));
    QVERIFY2(sender.lastFailure().contains("the mail took over 1200 ms"), qPrintable(sender.lastFailure()));

    LoopbackPort silent = LoopbackPort::open();
    clock.restart();
    QVERIFY(!send(sender, QStringLiteral("127.0.0.1:%1").arg(silent.port()), "ops@test"));
    QVERIFY(clock.elapsed() >= 100 && clock.elapsed() < 100 + 300);
}

// The window closing during a mail: no further command goes out.
void TestMailSender::abandonedMailStopsAtOnce()
{
    SmtpServer server("--delay 0.4");
    QVERIFY2(server.isRunning(), qPrintable(server.failure()));
    MailSender sender;
    QTimer::singleShot(600, [] { EventWait::abandonAll(); });
    QElapsedTimer clock;
    clock.start();
    const bool sent = send(sender, server.address(), "a@test,b@test");
    EventWait::resetAbandoned();
    QVERIFY(!sent);
    QVERIFY2(clock.elapsed() < 600 + 300, qPrintable(QString::number(clock.elapsed())));
    QTest::qWait(500);
    QCOMPARE(server.count("data"), 0);
    QCOMPARE(server.count("quit"), 0);
}

QTEST_GUILESS_MAIN(TestMailSender)
#include "tst_mailsender.moc"
