// The result mail against SMTP peers on loopback: a real server that refuses
// any message with a header defect, a sender without a domain or no
// Message-ID, and a raw listener that records every line it receives.
#include "LoopbackPeers.h"
#include "SmtpServer.h"
#include "actions/MailSender.h"
#include "actions/ResultMail.h"
#include "probes/EventWait.h"

#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
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

bool send(MailSender &sender, const QString &server, const QString &recipients)
{
    return sender.SMTPSEND(
        server, QStringLiteral("Ostrel"), QStringLiteral("s"), QString(5000, 'y'), QString(), recipients);
}

// What a peer finds wrong on the wire: a command outside RFC 5321's forms (a path
// with a blank, a control or an angle bracket in it), or in the message's header a
// line that is neither a field nor a fold, or a field given twice.
QStringList wireProblems(const QStringList &lines)
{
    static const QRegularExpression command(QStringLiteral("^(EHLO|HELO) [!-~]+$|^(DATA|QUIT|STARTTLS)$|"
                                                           "^(MAIL FROM|RCPT TO):<[^\\x00-\\x20<>\\x7f-\\x9f\\x{2028}"
                                                           "\\x{2029}]*>( SMTPUTF8)?$"));
    static const QRegularExpression field(QStringLiteral("^([!-9;-~]+): "));
    QStringList problems, fields;
    bool inData = false, inHeader = false;
    for (const QString &line : lines) {
        if (inData && line == QLatin1String(".")) {
            inData = false;
        } else if (inData) {
            inHeader = inHeader && !line.isEmpty();
            const QString name = field.match(line).captured(1).toLower();
            if (inHeader && (name.isEmpty() ? !line.startsWith(QLatin1Char(' ')) : fields.contains(name)))
                problems << line;
            fields << name;
        } else {
            if (!command.match(line).hasMatch())
                problems << line;
            inData = inHeader = line == QLatin1String("DATA");
        }
    }
    return problems;
}

} // namespace

class TestMailSender : public QObject {
    Q_OBJECT
    QString m_unconfined;

private slots:
    void initTestCase() { confineMailHost(&m_unconfined); }
    void init()
    {
        if (!m_unconfined.isEmpty())
            QSKIP(qPrintable(m_unconfined));
        // Nothing written to a closed socket, nothing else amiss either.
        QTest::failOnWarning(QRegularExpression(QStringLiteral(".")));
    }
    void resultMail_data();
    void resultMail();
    void nothingToSend();
    void sessions_data();
    void sessions();
    void rawPeer_data();
    void rawPeer();
    void bounds_data();
    void bounds();
    void abandonedMailStopsAtOnce();
};

void TestMailSender::resultMail_data()
{
    QTest::addColumn<QString>("device");
    QTest::addColumn<bool>("passed");
    QTest::addColumn<QByteArray>("mailFrom"); // OSTREL_MAIL_FROM
    QTest::addColumn<QString>("seen"); // the device in subject and text, as a reader sees it
    const QString beyond = QString::fromUtf8("Gerät-Köln-東京-😀-").repeated(6);
    QTest::newRow("failed") << "D" << false << QByteArray() << "D";
    QTest::newRow("passed, sender from the environment") << "D" << true << QByteArray("alerts@corp.example") << "D";
    QTest::newRow("line breaks and control characters") << "D\x01"
                                                           "E\r\nBcc: evil@test\nX-Injected: 1\r"
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
    QFETCH(QString, seen);
    const auto from = scopedEnv("OSTREL_MAIL_FROM", mailFrom);
    SmtpServer server;
    QVERIFY2(server.isRunning(), qPrintable(server.failure()));
    MailSender sender;
    QVERIFY2(modCommand::Send_ResultMail(sender, server.address(), "ops@test", "23", device, passed),
        qPrintable(sender.lastFailure()));

    const auto messages = server.messages();
    QCOMPARE(messages.size(), 1);
    const auto &message = messages.at(0);
    QCOMPARE(message.mailFrom, mailFrom.isEmpty() ? QStringLiteral("ostrel@vm") : QString(mailFrom));
    QCOMPARE(message.rcptTos, QStringList { "ops@test" });
    QCOMPARE(message.header("From"), QStringList { "Ostrel <" + message.mailFrom + ">" });
    QCOMPARE(message.header("Subject"),
        QStringList { (passed ? "Port Check Passed on device " : "Port Check Failed on device ") + seen });
    QCOMPARE(message.header("Message-ID").size(), 1);
    QCOMPARE(message.body, "Port 23 on device " + seen + (passed ? " is available.\r\n" : " is un-available.\r\n"));
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
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QString>("field"); // %1: the port
    QTest::addColumn<QString>("recipients");
    QTest::addColumn<QByteArray>("netrc");
    QTest::addColumn<QString>("failure"); // how the reason starts, "" when sent
    QTest::addColumn<QStringList>("delivered"); // envelope and To header of the one mail received, {} for none
    QTest::addColumn<int>("quits");
    const auto row = [](const char *name, const QString &options, const QString &field, const QString &recipients,
                         const QByteArray &netrc, const QString &failure, const QStringList &delivered, int quits) {
        QTest::newRow(name) << options.split(' ', Qt::SkipEmptyParts) << field << recipients << netrc << failure
                            << delivered << quits;
    };
    const QString plain = "127.0.0.1:%1", starttls = "smtp://127.0.0.1:%1", tls = "smtps://127.0.0.1:%1";
    const QStringList ops { "ops@test" };
    const QByteArray entry = "machine 127.0.0.1 login alerts password s3cret\n";
    QStringList many;
    for (int i = 0; i < 60; ++i)
        many << QStringLiteral("operator.number.%1@bü.example").arg(i);
    const QStringList manyAce = QStringList(many).replaceInStrings("bü", "xn--b-eha");
    row("empty entry leaves no trace", "", plain, "a@x,, b@y", "", "", { "a@x", "b@y" }, 1);
    row("60 long addresses beyond ASCII, folded", "", plain, many.join(','), "", "", manyAce, 1);
    row("local part beyond ASCII, SMTPUTF8", "--smtputf8", plain, "ops@b.c,jörg@b.c", "", "", { "ops@b.c", "jörg@b.c" },
        1);
    row("local part beyond ASCII, no SMTPUTF8", "", plain, "ops@b.c,jörg@b.c", "",
        "RCPT TO:<jörg@b.c> not sent: the server does not offer SMTPUTF8", { "ops@b.c" }, 1);
    row("a server name, looked up", "", "localhost:%1", "ops@test", "", "", ops, 1);
    row("dropped in DATA", "--drop-in-data", plain, "ops@test", "", "The remote host closed the connection", {}, 0);
    row("STARTTLS", "--tls starttls", starttls, "ops@test", "", "", ops, 1);
    row("TLS from the start", "--tls implicit", tls, "ops@test", "", "", ops, 1);
    row("STARTTLS, wrong certificate", "--tls starttls --wrong-ca", starttls, "ops@test", "",
        "TLS with 127.0.0.1 failed", {}, 0);
    row("TLS, wrong certificate", "--tls implicit --wrong-ca", tls, "ops@test", "", "TLS with 127.0.0.1 failed", {}, 0);
    row("login from .netrc", "--tls starttls --login alerts:s3cret", "smtp://alerts@127.0.0.1:%1", "ops@test",
        "# relay\n" + entry, "", ops, 1);
    row("login without naming the user", "--tls implicit --login alerts:s3cret", tls, "ops@test", entry, "", ops, 1);
    row("AUTH LOGIN where PLAIN is not offered", "--tls implicit --login alerts:s3cret --login-only", tls, "ops@test",
        entry, "", ops, 1);
    row("wrong password", "--tls starttls --login alerts:other", "smtp://alerts@127.0.0.1:%1", "ops@test", entry,
        "AUTH refused: 535", {}, 1);
    row("no password in .netrc", "--tls starttls --login alerts:s3cret", "smtp://ops@127.0.0.1:%1", "ops@test", entry,
        "no password for ops at 127.0.0.1", {}, 1);
    row("the login of another entry is never lent", "--tls implicit --login alerts:s3cret", tls, "ops@test",
        "machine 127.0.0.1 #office\nmachine relay.example.org # SMTP relay\n  login alerts password s3cret\n",
        "MAIL FROM:<ostrel@vm> refused: 530", {}, 1);
}

void TestMailSender::sessions()
{
    QFETCH(QStringList, options);
    QFETCH(QString, field);
    QFETCH(QString, recipients);
    QFETCH(QByteArray, netrc);
    QFETCH(QString, failure);
    QFETCH(QStringList, delivered);
    SmtpServer server(options);
    QVERIFY2(server.isRunning(), qPrintable(server.failure()));
    QTemporaryDir home;
    QFile file(home.filePath(".netrc"));
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(netrc) == netrc.size()
        && file.setPermissions(QFile::ReadOwner | QFile::WriteOwner));
    file.close();
    const auto homeEnv = scopedEnv("HOME", home.path().toLocal8Bit());
    const auto trust = scopedEnv("SSL_CERT_FILE", server.caFile().toLocal8Bit());

    MailSender sender;
    const bool sent = send(sender, field.arg(server.port()), recipients);
    QCOMPARE(sender.lastFailure().left(failure.size()), failure);
    QCOMPARE(sent, failure.isEmpty());
    const auto messages = server.messages();
    QCOMPARE(messages.size(), delivered.isEmpty() ? 0 : 1);
    for (const auto &message : messages) {
        QCOMPARE(message.parseError, QString());
        QCOMPARE(message.rcptTos, delivered);
        QCOMPARE(message.to, delivered);
    }
    QCOMPARE(server.count("data"), int(!delivered.isEmpty() || options.contains("--drop-in-data")));
    QFETCH(int, quits);
    QTRY_COMPARE(server.count("quit"), quits);
}

// Against the raw listener: what the client said, command by command, and why it stopped.
void TestMailSender::rawPeer_data()
{
    QTest::addColumn<QStringList>("replies"); // VERB=reply; a silent step ends at the ready bound (100 ms)
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("recipients");
    QTest::addColumn<QString>("commands"); // the verbs received, the message's lines left out
    QTest::addColumn<QString>("failure"); // the whole reason, "" when sent
    const QString plain = "127.0.0.1:%1", sent = "EHLO MAIL RCPT DATA . QUIT";
    const QString x295(295, QLatin1Char('x'));
    const auto row = [&](const char *name, const QStringList &replies, const QString &recipients,
                         const QString &commands, const QString &failure, const QString &field = "127.0.0.1:%1") {
        QTest::newRow(name) << replies << field << recipients << commands << failure;
    };
    for (const QString injected : { "x@[\r\n::1]", "x@[::1%\r\nX-Injected: yes]", "x@[::1%\r\n\r\nbody]", "x@[::1%>]" })
        row(qPrintable("a recipient that would split a command: " + QString(injected).toHtmlEscaped()), {},
            "ok@example.org," + injected, sent,
            "RCPT TO:<" + QString(injected).replace('\r', ' ').replace('\n', ' ') + "> not sent: not an address");
    row("HELO when EHLO is refused", { "EHLO=502 5.5.1 no" }, "ops@test", "EHLO HELO MAIL RCPT DATA . QUIT", "");
    row("sender refused", { "MAIL=550 5.7.1 no" }, "ops@test", "EHLO MAIL QUIT",
        "MAIL FROM:<ostrel@vm> refused: 550 5.7.1 no (set OSTREL_MAIL_FROM)");
    row("a refusal, then a line that is no reply", { "MAIL=550 5.7.1 sender blacklisted\r\nthis is no reply line" },
        "ops@test", "EHLO MAIL", "MAIL FROM:<ostrel@vm> refused: 550 5.7.1 sender blacklisted (set OSTREL_MAIL_FROM)");
    row("every recipient refused: no DATA", { "RCPT=550 5.1.1 unknown" }, "a@test,b@test", "EHLO MAIL RCPT RCPT QUIT",
        "RCPT TO:<a@test> refused: 550 5.1.1 unknown");
    row("reply text with C1 and line separators", { "RCPT=550 5.1.1 bad\u0085user\u2028x" }, "ops@test",
        "EHLO MAIL RCPT QUIT", "RCPT TO:<ops@test> refused: 550 5.1.1 bad user x");
    row("long reply text cut between characters", { "RCPT=550 " + x295 + "😀😀" }, "ops@test", "EHLO MAIL RCPT QUIT",
        "RCPT TO:<ops@test> refused: 550 " + x295);
    row("no greeting", { "GREETING=" }, "ops@test", "",
        "127.0.0.1:%1 was not ready within 100 ms (waiting at greeting)");
    row("no answer to EHLO", { "EHLO=" }, "ops@test", "EHLO QUIT",
        "127.0.0.1:%1 was not ready within 100 ms (waiting at EHLO)");
    row("no answer to STARTTLS", { "EHLO=250-raw\r\n250 STARTTLS", "STARTTLS=" }, "ops@test", "EHLO STARTTLS QUIT",
        "smtp://127.0.0.1:%1 was not ready within 100 ms (waiting at TLS)", "smtp://127.0.0.1:%1");
}

void TestMailSender::rawPeer()
{
    QFETCH(QStringList, replies);
    QFETCH(QString, field);
    QFETCH(QString, failure);
    QStringList options { "--raw" };
    for (const QString &reply : replies)
        options << "--reply" << reply;
    SmtpServer server(options);
    QVERIFY2(server.isRunning(), qPrintable(server.failure()));
    const bool silent = replies.filter(QRegularExpression("=$")).size() > 0;
    const auto bounds = scopedEnv("OSTREL_TEST_MAIL_TIME_SCALE", silent ? "100" : nullptr);
    MailSender sender;
    QFETCH(QString, recipients);
    QCOMPARE(send(sender, field.arg(server.port()), recipients), failure.isEmpty());
    QCOMPARE(sender.lastFailure(), failure.replace("%1", QString::number(server.port())));
    QTest::qWait(100); // what came after the end
    QStringList lines = server.lines();
    QCOMPARE(wireProblems(lines), QStringList());
    QStringList commands;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        commands << lines[i].section(QRegularExpression("[ :]"), 0, 0);
        while (lines[i] == QLatin1String("DATA") && i + 1 < lines.size() && lines[i + 1] != QLatin1String("."))
            lines.removeAt(i + 1);
    }
    QTEST(commands.join(' '), "commands");
}

// Each bound, shortened through the test seam: greeting 100 ms, each reply
// 300 ms, the verdict on the message 600 ms, the whole mail 1.2 s.
void TestMailSender::bounds_data()
{
    QTest::addColumn<QStringList>("options"); // none: a port that never answers a connection
    QTest::addColumn<QString>("field");
    QTest::addColumn<int>("scale");
    QTest::addColumn<QString>("failure"); // what the reason holds, "" when sent
    QTest::addColumn<int>("withinMs");
    const auto row = [](const char *name, const QString &options, const QString &field, int scale,
                         const QString &failure, int withinMs) {
        QTest::newRow(name) << options.split(' ', Qt::SkipEmptyParts) << field << scale << failure << withinMs;
    };
    row("no connection", "", "127.0.0.1:%1", 100, "not ready within 100 ms (waiting at connect)", 100 + 300);
    row("every reply just in time", "--delay 0.25", "127.0.0.1:%1", 100, "the mail took over 1200 ms", 1200 + 300);
    row("one reply too late", "--delay 0.5", "127.0.0.1:%1", 100, "MAIL FROM:<ostrel@vm>: no answer within 300 ms",
        300 + 300);
    row("the verdict may take longer than a reply", "--verdict-delay 0.45", "127.0.0.1:%1", 100, "", 600 + 300);
    row("the verdict too late", "--verdict-delay 0.8", "127.0.0.1:%1", 100,
        "the end of the message: no answer within 600 ms", 600 + 300);
    row("no answer to AUTH", "--tls implicit --login alerts:s3cret --delay 1.5", "smtps://127.0.0.1:%1", 10,
        "not ready within 1 s (waiting at AUTH)", 1000 + 300);
}

void TestMailSender::bounds()
{
    QFETCH(QStringList, options);
    QFETCH(QString, field);
    QFETCH(int, scale);
    QFETCH(QString, failure);
    QFETCH(int, withinMs);
    const auto bounds = scopedEnv("OSTREL_TEST_MAIL_TIME_SCALE", QByteArray::number(scale));
    const LoopbackPort blackholed = LoopbackPort::blackholed();
    std::optional<SmtpServer> server;
    if (!options.isEmpty())
        QVERIFY2(server.emplace(options).isRunning(), qPrintable(server->failure()));
    QTemporaryDir home;
    QFile netrc(home.filePath(".netrc"));
    QVERIFY(netrc.open(QIODevice::WriteOnly) && netrc.write("machine 127.0.0.1 login alerts password s3cret\n") > 0
        && netrc.setPermissions(QFile::ReadOwner));
    netrc.close();
    const auto homeEnv = scopedEnv("HOME", home.path().toLocal8Bit());
    const auto trust = scopedEnv("SSL_CERT_FILE", server ? server->caFile().toLocal8Bit() : QByteArray());
    MailSender sender;
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(send(sender, field.arg(server ? server->port() : blackholed.port()), "a@test,b@test,c@test,d@test"),
        failure.isEmpty());
    QVERIFY2(clock.elapsed() < withinMs, qPrintable(QString::number(clock.elapsed())));
    QVERIFY2(sender.lastFailure().contains(failure), qPrintable(sender.lastFailure()));
}

// The window closing during a mail: no further command goes out.
void TestMailSender::abandonedMailStopsAtOnce()
{
    SmtpServer server({ "--delay", "0.4" });
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
