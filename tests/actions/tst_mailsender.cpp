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
#include <QTemporaryDir>
#include <QTest>
#include <QScopeGuard>
#include <QTimer>

namespace {

// Sets an environment variable for one scope; the tests run without any of them.
auto scopedEnv(const char *name, const QByteArray &value)
{
    if (!value.isNull())
        qputenv(name, value);
    return qScopeGuard([name] { qunsetenv(name); });
}

} // namespace

class TestMailSender : public QObject
{
    Q_OBJECT
private slots:
    void resultMail_data();
    void resultMail();
    void nothingToSend();
    void recipients_data();
    void recipients();
    void sessions_data();
    void sessions();
    void wholeMailBound();
    void abandonedMailStopsAtOnce();
    void longBodyAndAttachment();
};

void TestMailSender::resultMail_data()
{
    QTest::addColumn<QString>("device");
    QTest::addColumn<bool>("passed");
    QTest::addColumn<QByteArray>("mailFrom");   // OSTREL_MAIL_FROM
    QTest::addColumn<QString>("seen");          // the device in the subject, as a reader sees it
    const QString beyond = QString::fromUtf8("Gerät-Köln-東京-😀-").repeated(6);
    const QString word(1500, QLatin1Char('w'));
    QTest::newRow("failed") << "D" << false << QByteArray() << "D";
    QTest::newRow("passed, sender from the environment") << "D" << true << QByteArray("alerts@corp.example") << "D";
    QTest::newRow("line breaks and control characters")
        << QStringLiteral("D\x01" "E\r\nBcc: evil@test\nX-Injected: 1\r") << true << QByteArray()
        << "D E Bcc: evil@test X-Injected: 1 ";
    QTest::newRow("tabs and blank runs") << QStringLiteral("a\t\t") + QString(200, QLatin1Char(' ')) + "b" << true
                                         << QByteArray() << QStringLiteral("a  ") + QString(200, QLatin1Char(' ')) + "b";
    QTest::newRow("one word beyond any line") << word << true << QByteArray() << word;
    QTest::newRow("beyond ASCII") << beyond << true << QByteArray() << beyond;
}

void TestMailSender::resultMail()
{
    QFETCH(QString, device);
    QFETCH(bool, passed);
    QFETCH(QByteArray, mailFrom);
    QFETCH(QString, seen);
    const auto from = scopedEnv("OSTREL_MAIL_FROM", mailFrom);

    SmtpServer server;
    QVERIFY2(server.isRunning(), qPrintable(server.failure()));
    MailSender sender;
    QVERIFY2(modCommand::Send_ResultMail(sender, server.address(), QStringLiteral("ops@test"),
                                         QStringLiteral("23"), device, passed),
             qPrintable(sender.lastFailure()));
    QCOMPARE(sender.intSmtpState(), qint16(1));

    const auto messages = server.messages();
    QCOMPARE(messages.size(), 1);
    const auto &message = messages.at(0);
    if (mailFrom.isEmpty())
        QVERIFY2(message.mailFrom.startsWith(QStringLiteral("ostrel@")), qPrintable(message.mailFrom));
    else
        QCOMPARE(message.mailFrom, QString::fromLatin1(mailFrom));
    QCOMPARE(message.rcptTos, QStringList{"ops@test"});
    QCOMPARE(message.header("From"), QStringList{"Ostrel <" + message.mailFrom + ">"});
    QCOMPARE(message.header("Subject"),
             QStringList{(passed ? QStringLiteral("Port Check Passed on device ")
                                 : QStringLiteral("Port Check Failed on device ")) + seen});
    QCOMPARE(message.header("Message-ID").size(), 1);
    // In the body a line break is only text.
    QString text = QStringLiteral("Port 23 on device ") + device
        + (passed ? QStringLiteral(" is available.\n") : QStringLiteral(" is un-available.\n"));
    const auto lfLines = [](QString lines) {
        return lines.replace(QStringLiteral("\r\n"), QStringLiteral("\n")).replace(QLatin1Char('\r'), QLatin1Char('\n'));
    };
    QCOMPARE(lfLines(message.body), lfLines(text));
    QCOMPARE(server.count(QStringLiteral("quit")), 1);
}

// Blank server and recipients: nothing to do; only one of them: a failure, and no connection.
void TestMailSender::nothingToSend()
{
    SmtpServer server;
    MailSender sender;
    const QString blank = QStringLiteral("  ");
    QVERIFY(modCommand::Send_ResultMail(sender, blank, blank, QStringLiteral("23"), QStringLiteral("D"), true));
    QVERIFY(!modCommand::Send_ResultMail(sender, server.address(), blank, QStringLiteral("23"), QStringLiteral("D"), true));
    QCOMPARE(sender.lastFailure(), QStringLiteral("no recipients given"));
    QVERIFY(!modCommand::Send_ResultMail(sender, blank, QStringLiteral("ops@test"), QStringLiteral("23"),
                                         QStringLiteral("D"), true));
    QCOMPARE(server.connections(), 0);
}

void TestMailSender::recipients_data()
{
    QTest::addColumn<QString>("flags");
    QTest::addColumn<QString>("recipients");
    QTest::addColumn<QStringList>("envelope");
    QTest::addColumn<QStringList>("to");      // as Python reads the To header
    QTest::addColumn<QString>("failure");     // "" when the mail went through

    QTest::newRow("two, blank after the comma") << "" << "a@x, b@y" << QStringList{"a@x", "b@y"}
                                                << QStringList{"a@x", "b@y"} << "";
    QTest::newRow("empty entry leaves no trace") << "" << "a@x,,b@y" << QStringList{"a@x", "b@y"}
                                                 << QStringList{"a@x", "b@y"} << "";
    QTest::newRow("domain beyond ASCII as IDNA") << "" << "ops@münchen.example"
                                                 << QStringList{"ops@xn--mnchen-3ya.example"}
                                                 << QStringList{"ops@xn--mnchen-3ya.example"} << "";
    QTest::newRow("local part beyond ASCII, SMTPUTF8") << "--smtputf8" << "ops@b.c,jörg@b.c"
                                                       << QStringList{"ops@b.c", "jörg@b.c"}
                                                       << QStringList{"ops@b.c", "jörg@b.c"} << "";
    QTest::newRow("local part beyond ASCII, no SMTPUTF8")
        << "" << "ops@b.c,jörg@b.c" << QStringList{"ops@b.c"} << QStringList{"ops@b.c"}
        << "RCPT TO:<jörg@b.c> not sent: the server does not offer SMTPUTF8";
    QTest::newRow("a line break in an entry") << "" << "ops@test,\r\nCc: evil@test" << QStringList{"ops@test"}
                                              << QStringList{"ops@test"} << "RCPT TO:<  Cc: evil@test> not sent";
    QTest::newRow("one of two refused") << "--reject-recipient nobody@test" << "nobody@test, ops@test" << QStringList{"ops@test"}
                                        << QStringList{"ops@test", "nobody@test"}
                                        << "RCPT TO:<nobody@test> refused: 550 5.1.1 unknown user";
    QStringList many;
    for (int i = 0; i < 60; ++i)
        many << QStringLiteral("operator.number.%1@bü.example").arg(i);
    QStringList manyAce = many;
    manyAce.replaceInStrings(QStringLiteral("bü"), QStringLiteral("xn--b-eha"));
    QTest::newRow("60 long addresses, folded") << "" << many.join(QLatin1Char(',')) << manyAce << manyAce << "";
}

void TestMailSender::recipients()
{
    QFETCH(QString, flags);
    QFETCH(QString, recipients);
    QFETCH(QStringList, envelope);
    QFETCH(QStringList, to);
    QFETCH(QString, failure);

    SmtpServer server(flags);
    QVERIFY2(server.isRunning(), qPrintable(server.failure()));
    MailSender sender;
    QVERIFY2(modCommand::Send_ResultMail(sender, server.address(), recipients, QStringLiteral("23"),
                                         QStringLiteral("D"), true) == failure.isEmpty(),
             qPrintable(sender.lastFailure()));
    QVERIFY2(failure.isEmpty() ? sender.lastFailure().isEmpty() : sender.lastFailure().startsWith(failure),
             qPrintable(sender.lastFailure()));
    const auto messages = server.messages();
    QCOMPARE(messages.size(), 1);
    QCOMPARE(messages.at(0).parseError, QString());
    QCOMPARE(messages.at(0).rcptTos, envelope);
    QStringList seen = messages.at(0).to;
    seen.sort();
    to.sort();
    QCOMPARE(seen, to);
    QCOMPARE(server.count(QStringLiteral("quit")), 1);
}

void TestMailSender::sessions_data()
{
    QTest::addColumn<QString>("flags");
    QTest::addColumn<QString>("field");        // %1: the port
    QTest::addColumn<QString>("netrc");
    QTest::addColumn<QString>("recipients");
    QTest::addColumn<QString>("failure");      // "" when sent
    QTest::addColumn<int>("dataCommands");
    QTest::addColumn<int>("quits");

    const QString plain = QStringLiteral("127.0.0.1:%1");
    const QString netrc = QStringLiteral("machine 127.0.0.1 login alerts password s3cret\n");
    const auto row = [](const char *name, const QString &flags, const QString &field, const QString &netrc,
                        const QString &recipients, const QString &failure, int data, int quits) {
        QTest::newRow(name) << flags << field << netrc << recipients << failure << data << quits;
    };
    row("HELO when EHLO is refused", "--no-ehlo", plain, "", "ops@test", "", 1, 1);
    row("a server name, looked up", "", "localhost:%1", "", "ops@test", "", 1, 1);
    row("sender refused", "--reject-sender", plain, "", "ops@test", "MAIL FROM:<ostrel@", 0, 1);
    row("every recipient refused: no DATA", "--reject-recipient a@test --reject-recipient b@test", plain, "",
        "a@test,b@test", "RCPT TO:<a@test> refused: 550", 0, 1);
    row("dropped in DATA", "--drop-in-data", plain, "", "ops@test", "The remote host closed the connection", 1, 0);
    row("STARTTLS", "--tls starttls", "smtp://127.0.0.1:%1", "", "ops@test", "", 1, 1);
    row("TLS from the start", "--tls implicit", "smtps://127.0.0.1:%1", "", "ops@test", "", 1, 1);
    row("STARTTLS, wrong certificate", "--tls starttls --wrong-ca", "smtp://127.0.0.1:%1", "", "ops@test",
        "TLS with 127.0.0.1 failed", 0, 0);
    row("TLS, wrong certificate", "--tls implicit --wrong-ca", "smtps://127.0.0.1:%1", "", "ops@test",
        "TLS with 127.0.0.1 failed", 0, 0);
    row("login from .netrc", "--tls starttls --login alerts:s3cret", "smtp://alerts@127.0.0.1:%1", netrc,
        "ops@test", "", 1, 1);
    row("login without naming the user", "--tls implicit --login alerts:s3cret", "smtps://127.0.0.1:%1", netrc,
        "ops@test", "", 1, 1);
    row("wrong password", "--tls starttls --login alerts:other", "smtp://alerts@127.0.0.1:%1", netrc, "ops@test",
        "AUTH refused: 535", 0, 1);
    row("no password in .netrc", "--tls starttls --login alerts:s3cret", "smtp://ops@127.0.0.1:%1", netrc,
        "ops@test", "no password for ops at 127.0.0.1", 0, 1);
    row("plain form where TLS is required", "--tls starttls", plain, "", "ops@test",
        "MAIL FROM:<ostrel@[127.0.0.1]> refused: 530", 0, 1);
}

void TestMailSender::sessions()
{
    QFETCH(QString, flags);
    QFETCH(QString, field);
    QFETCH(QString, netrc);
    QFETCH(QString, recipients);
    QFETCH(QString, failure);

    SmtpServer server(flags);
    QVERIFY2(server.isRunning(), qPrintable(server.failure()));
    QTemporaryDir home;
    QFile file(home.filePath(QStringLiteral(".netrc")));
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(netrc.toUtf8()) == netrc.size());
    file.close();
    const QByteArray realHome = qgetenv("HOME");
    qputenv("HOME", home.path().toLocal8Bit());
    const auto restoreHome = qScopeGuard([&] { qputenv("HOME", realHome); });
    const auto trust = scopedEnv("SSL_CERT_FILE", server.caFile().toLocal8Bit());

    MailSender sender;
    QVERIFY2(sender.SMTPSEND(field.arg(server.port()), QStringLiteral("Ostrel"), QStringLiteral("s"),
                             QString(5000, QLatin1Char('y')), QString(), recipients) == failure.isEmpty(),
             qPrintable(sender.lastFailure()));
    QVERIFY2(failure.isEmpty() ? sender.lastFailure().isEmpty() : sender.lastFailure().startsWith(failure),
             qPrintable(sender.lastFailure()));
    QCOMPARE(server.messages().size(), failure.isEmpty() ? 1 : 0);
    QTEST(server.count(QStringLiteral("data")), "dataCommands");
    QFETCH(int, quits);
    QTRY_COMPARE(server.count(QStringLiteral("quit")), quits);
}

// A server that answers every step just inside its limit is held to the
// bound on the whole mail.
void TestMailSender::wholeMailBound()
{
    // The bounds a hundred times shorter: greeting 100 ms, each reply 300 ms, the whole mail 1.2 s.
    const auto bounds = scopedEnv("OSTREL_TEST_MAIL_TIME_SCALE", "100");
    SmtpServer server(QStringLiteral("--delay 0.25"));
    QVERIFY2(server.isRunning(), qPrintable(server.failure()));
    MailSender sender;
    QElapsedTimer clock;
    clock.start();
    QVERIFY(!sender.SMTPSEND(server.address(), QStringLiteral("Ostrel"), QStringLiteral("s"), QStringLiteral("b"),
                             QString(), QStringLiteral("a@test,b@test,c@test,d@test")));
    QVERIFY2(clock.elapsed() < 1200 + 300, qPrintable(QString::number(clock.elapsed())));
    QVERIFY2(sender.lastFailure().contains(QStringLiteral("the mail took over 1200 ms")),
             qPrintable(sender.lastFailure()));

    // A server that never greets: the greeting bound, whatever the check's timeout.
    LoopbackPort silent = LoopbackPort::open();
    clock.restart();
    QVERIFY(!sender.SMTPSEND(QStringLiteral("127.0.0.1:%1").arg(silent.port()), QStringLiteral("Ostrel"),
                             QStringLiteral("s"), QStringLiteral("b"), QString(), QStringLiteral("ops@test")));
    QVERIFY(clock.elapsed() >= 100 && clock.elapsed() < 100 + 300);
    QCOMPARE(sender.intSmtpState(), qint16(0));

    // The same sender is not left in a broken state.
    SmtpServer next;
    QVERIFY2(sender.SMTPSEND(next.address(), QStringLiteral("Ostrel"), QStringLiteral("s"), QStringLiteral("b"),
                             QString(), QStringLiteral("ops@test")),
             qPrintable(sender.lastFailure()));
}

// The window closing during a mail: no further command goes out.
void TestMailSender::abandonedMailStopsAtOnce()
{
    SmtpServer server(QStringLiteral("--delay 0.4"));
    QVERIFY2(server.isRunning(), qPrintable(server.failure()));
    MailSender sender;
    QTimer::singleShot(600, [] { EventWait::abandonAll(); });
    QElapsedTimer clock;
    clock.start();
    const bool sent = sender.SMTPSEND(server.address(), QStringLiteral("Ostrel"), QStringLiteral("s"),
                                      QStringLiteral("b"), QString(), QStringLiteral("a@test,b@test"));
    EventWait::resetAbandoned();
    QVERIFY(!sent);
    QVERIFY2(clock.elapsed() < 600 + 300, qPrintable(QString::number(clock.elapsed())));
    QTest::qWait(500);
    QCOMPARE(server.count(QStringLiteral("data")), 0);
    QCOMPARE(server.count(QStringLiteral("quit")), 0);
}

// Pieces of 2048 with dots at line starts across them, text beyond ASCII,
// and a binary attachment arrive intact.
void TestMailSender::longBodyAndAttachment()
{
    QString body;
    for (int line = 0; body.size() < 9000; ++line)
        body += (line % 3 == 0 ? QStringLiteral(".") : line % 3 == 1 ? QStringLiteral("..dots Köln 😀 %1").arg(line)
                                                                       : QString(70, QLatin1Char('-')))
            + QStringLiteral("\n");
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("report.bin"));
    const QByteArray content = QByteArray("\0\xff\r\n.\x7f=", 7).repeated(700);
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(content) == content.size());
    file.close();

    SmtpServer server;
    QVERIFY2(server.isRunning(), qPrintable(server.failure()));
    MailSender sender;
    // A file that is not there: nothing is sent, no connection made.
    QVERIFY(!sender.SMTPSEND(server.address(), QStringLiteral("Ostrel"), QStringLiteral("s"), body,
                             folder.filePath(QStringLiteral("absent")), QStringLiteral("ops@test")));
    QCOMPARE(server.connections(), 0);
    QVERIFY2(sender.SMTPSEND(server.address(), QStringLiteral("Ostrel"), QStringLiteral("s"), body, path,
                             QStringLiteral("ops@test")),
             qPrintable(sender.lastFailure()));
    auto messages = server.messages();
    QCOMPARE(messages.size(), 1);
    QCOMPARE(messages[0].body.replace(QStringLiteral("\r\n"), QStringLiteral("\n")), body.chopped(1));
    QCOMPARE(messages.at(0).attachments, (SmtpServer::Pairs{{"report.bin", QString::fromLatin1(content.toBase64())}}));
}

QTEST_GUILESS_MAIN(TestMailSender)
#include "tst_mailsender.moc"
