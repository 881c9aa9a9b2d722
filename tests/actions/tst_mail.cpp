// The result mail: its texts, and whole mails to SMTP peers on loopback (smtp_server.py), in
// process and by the program. This host is "vm", with no domain; its look-ups stay on loopback.
#include "LoopbackPeers.h"
#include "LoopbackResolver.h"
#include "ProgramFolder.h"
#include "SmtpServer.h"
#include "actions/MailFormat.h"
#include "actions/MailSender.h"
#include "actions/ResultMail.h"
#include "probes/EventWait.h"

#include <QJsonArray>
#include <QRegularExpression>
#include <QTemporaryFile>
#include <QTest>
#include <QTimer>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// What /etc/mailname holds for this process and the programs it starts.
bool setMailName(const QByteArray &mailName)
{
    static QTemporaryFile file; // the mount shows what it holds now
    static const bool mounted = file.open()
        && ::mount(QFile::encodeName(file.fileName()).constData(), "/etc/mailname", nullptr, MS_BIND, nullptr) == 0;
    return mounted && file.resize(0) && file.seek(0) && file.write(mailName) == mailName.size() && file.flush();
}

// ~/.netrc in `home`: "fifo" a FIFO, "0644:" or "nobody:" before the text one others may read or someone else's.
bool writeNetrc(const QString &home, QByteArray netrc)
{
    const QByteArray path = QFile::encodeName(home + "/.netrc");
    const bool readable = netrc.startsWith("0644:"), foreign = netrc.startsWith("nobody:");
    netrc.remove(0, readable || foreign ? netrc.indexOf(':') + 1 : 0);
    QFile file(home + "/.netrc");
    if (netrc == "fifo")
        return ::mkfifo(path, 0600) == 0;
    return file.open(QIODevice::WriteOnly) && file.write(netrc) == netrc.size() && file.flush()
        && ::chmod(path, readable ? 0644 : 0600) == 0 && (!foreign || ::chown(path, 65534, 65534) == 0);
}

// The commands a server received by their first word (a MAIL but ostrel@vm's whole), the message left out.
QString commands(const SmtpServer &server)
{
    QStringList received;
    bool inMessage = false;
    for (const QJsonObject &record : server.records("line")) {
        const QString line = record["text"].toString();
        if (!inMessage)
            received << (line.startsWith("MAIL") && line != "MAIL FROM:<ostrel@vm>"
                    ? line
                    : line.section(QRegularExpression("[ :]"), 0, 0));
        inMessage = inMessage ? line != QLatin1String(".") : line == QLatin1String("DATA");
    }
    return received.join(' ');
}

} // namespace

class TestMail : public QObject {
    Q_OBJECT
    std::string m_unconfined; // why the host could not be set up

private slots:
    void initTestCase()
    {
        const std::string server = LoopbackResolver::silentNameServer();
        if (server.empty()
            || !LoopbackResolver::confine(&m_unconfined, { server, "127.0.0.1 vm\n::1 vm", "timeout:10 attempts:2" }))
            m_unconfined += " (no silent name server)";
        else if (::unshare(CLONE_NEWUTS) != 0 || ::sethostname("vm", 2) != 0 || !setMailName({}))
            m_unconfined = "no host name or /etc/mailname of our own";
    }
    void init()
    {
        if (!m_unconfined.empty())
            QSKIP(m_unconfined.c_str());
        QTest::failOnWarning(QRegularExpression(QStringLiteral("."))); // nothing written to a closed socket
    }
    void cleanup()
    {
        EventWait::resetAbandoned();
        qunsetenv("OSTREL_MAIL_FROM");
        qunsetenv("OSTREL_TEST_MAIL_TIME_SCALE");
        setMailName({});
    }
    void texts();
    void mails_data();
    void mails();
};

// What the readers make of a text, each beside what is expected ("" for refused).
void TestMail::texts()
{
    const auto server = MailFormat::readMailServer("SMTPS://a%40b@[::1]:2587/");
    // .netrc for relay.example, with the user named or none.
    const auto netrc = [](const QString &text, const QString &user = {}) {
        const auto login = MailFormat::netrcLogin(text, "relay.example", user);
        return login ? login->user + ':' + login->password : QString();
    };
    const QString entries = "machine other.example login x password y\nmachine Relay.example\n  login alerts\n"
                            "  password \"s e\\\"cret\"\nmachine relay.example login ops password two\n";
    const std::pair<QString, QString> answers[] = {
        { server->user + ' ' + server->host + ' ' + QString::number(server->port), "a@b ::1 2587" },
        { MailFormat::readMailServer("010.0.0.1")->host, "10.0.0.1" },
        { MailFormat::readAddress("ops@bü.c")->text(), "ops@xn--b-eha.c" },
        { MailFormat::defaultSender("alerts", "vm\n", "probe.example.org", "::1"), "ostrel@probe.example.org" },
        { MailFormat::defaultSender("", "", "my_host", "::1"), "ostrel@[IPv6:::1]" },
        { netrc(entries), "alerts:s e\"cret" },
        { netrc(entries, "ops"), "ops:two" },
        { netrc(entries, "nobody"), "" },
        { netrc("machine a login b password c default login d password e"), "d:e" },
        { netrc("default login a\ndefault login b password c\n"), "" },
        { netrc("machine relay.example password\nmachine x login l password p\n"), "" },
        { netrc("macdef m\nmachine relay.example login evil password e\n\nmachine relay.example login ok password k"),
            "ok:k" },
        { netrc("machine relay.example login a password \"b"), "" },
    };
    for (const auto &[read, expected] : answers)
        QCOMPARE(read, expected);
}

// Whole result mails: the reason of a failure (by the program: its standard error), the commands
// the server received, and each message it took as a mail reader sees it.
void TestMail::mails_data()
{
    QTest::addColumn<QStringList>("options"); // smtp_server.py's, or "--blackholed": a port that never answers
    QTest::addColumn<QString>("failure"); // %1: the port
    QTest::addColumn<QString>("commands");
    QTest::addColumn<QString>("field"); // the mail server; %1: the port
    QTest::addColumn<QStringList>("environment"); // also MAILNAME, NETRC (writeNetrc), TO (recipients), ABANDON (ms)
    const auto row = [](const QString &name, const QString &options, const QString &failure, const QString &commands,
                         const QString &field = "127.0.0.1:%1", const QString &environment = {}) {
        QTest::newRow(qPrintable(name)) << options.split('|', Qt::SkipEmptyParts) << failure << commands << field
                                        << environment.split('|', Qt::SkipEmptyParts);
    };
    const QString plain = "127.0.0.1:%1", starttls = "smtp://127.0.0.1:%1", tls = "smtps://127.0.0.1:%1";
    const QString sent = "EHLO MAIL RCPT DATA QUIT", login = "--tls|implicit|--login|alerts:s3cret";
    const QString entry = "NETRC=machine 127.0.0.1 login alerts password s3cret";
    const QString noLogin = "MAIL FROM:<ostrel@vm> refused: 530 5.7.0 Authentication required (set OSTREL_MAIL_FROM)";
    const QString scaled = "OSTREL_TEST_MAIL_TIME_SCALE=100"; // ready 100 ms, a reply 300, the verdict 600, all 1200
    row("an empty entry leaves no trace", "", "", "EHLO MAIL RCPT RCPT DATA QUIT", plain, "TO=a@x,, b@y");
    row("a local part beyond ASCII, SMTPUTF8", "--raw|--reply|EHLO=250-raw\r\n250 SMTPUTF8", "",
        "EHLO MAIL FROM:<ostrel@vm> SMTPUTF8 RCPT RCPT DATA QUIT", plain, "TO=ops@b.c,jörg@b.c");
    row("a local part beyond ASCII, no SMTPUTF8", "", "RCPT TO:<jörg@b.c> not sent: the server does not offer SMTPUTF8",
        sent, plain, "TO=ops@b.c,jörg@b.c");
    row("STARTTLS, a certificate not trusted", "--tls|starttls|--untrusted",
        "TLS with 127.0.0.1 failed: The certificate is self-signed, and untrusted", "EHLO STARTTLS", starttls);
    row("TLS, a certificate not trusted", "--tls|implicit|--untrusted",
        "TLS with 127.0.0.1 failed: The certificate is self-signed, and untrusted", "", tls);
    row("STARTTLS and AUTH PLAIN, .netrc with comments", "--tls|starttls|--login|alerts:s3cret", "",
        "EHLO STARTTLS EHLO AUTH MAIL RCPT DATA QUIT", "smtp://alerts@127.0.0.1:%1",
        QString(entry).replace("NETRC=", "NETRC=# relay\n"));
    row("only AUTH LOGIN, the login an address", "--tls|implicit|--login-only|--login|alerts@corp.example:s3cret", "",
        "EHLO AUTH MAIL FROM:<alerts@corp.example> RCPT DATA QUIT", tls,
        "NETRC=machine 127.0.0.1 login alerts@corp.example password s3cret");
    row("no password for the user named", login, "no password for ops at 127.0.0.1 in ~/.netrc", "EHLO QUIT",
        "smtps://ops@127.0.0.1:%1", entry);
    row("the login of another entry is never lent", login, noLogin, "EHLO MAIL QUIT", tls,
        "NETRC=machine 127.0.0.1 #office\nmachine relay.example.org # SMTP relay\n  login alerts password s3cret");
    row(".netrc of another user", login, noLogin, "EHLO MAIL QUIT", tls,
        QString(entry).replace("NETRC=", "NETRC=nobody:"));
    row(".netrc, a FIFO nobody writes", login, noLogin, "EHLO MAIL QUIT", tls, "NETRC=fifo");
    for (const QString injected : { "x@[\r\n::1]", "x@[::1%\r\nX-Injected: yes]", "x@[::1%\r\n\r\nbody]", "x@[::1%>]" })
        row("a recipient that would split a command: " + QString(injected).toHtmlEscaped(), "--raw",
            "RCPT TO:<" + QString(injected).replace('\r', ' ').replace('\n', ' ') + "> not sent: not an address", sent,
            plain, "TO=ok@example.org," + injected);
    row("closed in the message", "--raw|--reply|MESSAGE=-", "The remote host closed the connection (127.0.0.1:%1)",
        "EHLO MAIL RCPT DATA");
    row("HELO when EHLO is refused", "--raw|--reply|EHLO=502 5.5.1 no", "", "EHLO HELO MAIL RCPT DATA QUIT");
    row("a refusal, then a line that is no reply", "--raw|--reply|MAIL=550 5.7.1 sender blacklisted\r\nno reply",
        "MAIL FROM:<ostrel@vm> refused: 550 5.7.1 sender blacklisted (set OSTREL_MAIL_FROM)", "EHLO MAIL");
    row("a recipient refused: the others still get the mail", "--raw|--reply|RCPT TO:<a@test>=550 5.1.1 unknown",
        "RCPT TO:<a@test> refused: 550 5.1.1 unknown", "EHLO MAIL RCPT RCPT DATA QUIT", plain, "TO=a@test,b@test");
    row("every recipient refused: no DATA", "--raw|--reply|RCPT=550 5.1.1 unknown",
        "RCPT TO:<a@test> refused: 550 5.1.1 unknown", "EHLO MAIL RCPT RCPT QUIT", plain, "TO=a@test,b@test");
    row("reply text with C1 controls and line separators", "--raw|--reply|RCPT=550 5.1.1 bad\u009buser\u2028x",
        "RCPT TO:<ops@test> refused: 550 5.1.1 bad user x", "EHLO MAIL RCPT QUIT");
    row("long reply text, cut between characters", "--raw|--reply|RCPT=550 " + QString(295, 'x') + "😀😀",
        "RCPT TO:<ops@test> refused: 550 " + QString(295, 'x'), "EHLO MAIL RCPT QUIT");
    row("no connection", "--blackholed", plain + " was not ready within 100 ms (waiting at connect)", "", plain,
        scaled);
    row("no greeting", "--raw|--reply|GREETING=", plain + " was not ready within 100 ms (waiting at greeting)", "",
        plain, scaled);
    row("no answer to EHLO", "--raw|--reply|EHLO=", plain + " was not ready within 100 ms (waiting at EHLO)",
        "EHLO QUIT", plain, scaled);
    row("no answer to STARTTLS", "--raw|--reply|EHLO=250-raw\r\n250 STARTTLS|--reply|STARTTLS=",
        starttls + " was not ready within 100 ms (waiting at TLS)", "EHLO STARTTLS QUIT", starttls, scaled);
    row("no answer to AUTH", login + "|--delay|1.5", tls + " was not ready within 1 s (waiting at AUTH)", "EHLO AUTH",
        tls, "OSTREL_TEST_MAIL_TIME_SCALE=10|" + entry);
    row("one reply too late", "--delay|0.5", "MAIL FROM:<ostrel@vm>: no answer within 300 ms", "EHLO MAIL", plain,
        scaled);
    row("the verdict may take longer than a reply", "--verdict-delay|0.45", "", sent, plain, scaled);
    row("the verdict too late", "--verdict-delay|0.8", "the end of the message: no answer within 600 ms",
        "EHLO MAIL RCPT DATA", plain, scaled);
    row("every reply in time, the whole mail not", "--delay|0.25|--verdict-delay|0.55",
        "the end of the message: the mail took over 1200 ms", "EHLO MAIL RCPT DATA", plain, scaled);
    row("the window closed during a mail", "--delay|0.4", "the mail was stopped", "EHLO MAIL RCPT", plain,
        "ABANDON=600|TO=a@test,b@test");
    row("by the program: stock exim, no mail name", "--exim", "", "EHLO MAIL RCPT RCPT DATA QUIT", plain,
        "TO=a@example.org,b@example.org");
    row("by the program: stock exim, /etc/mailname", "--exim", "",
        "EHLO MAIL FROM:<ostrel@mail.ostrel-test.example> RCPT DATA QUIT", plain,
        "MAILNAME=mail.ostrel-test.example\n|TO=a@example.org");
    row("by the program: stock exim, an address literal", "--exim",
        "mail: MAIL FROM:<ostrel@[127.0.0.1]> refused: 501 <ostrel@[127.0.0.1]>: domain literals not allowed (set "
        "OSTREL_MAIL_FROM)\n",
        "EHLO MAIL FROM:<ostrel@[127.0.0.1]> QUIT", plain, "OSTREL_MAIL_FROM=ostrel@[127.0.0.1]|TO=a@example.org");
    row("by the program: .netrc readable by others", login,
        "mail: ~/.netrc is readable by others (chmod 600)\nmail: " + noLogin + "\n", "EHLO MAIL QUIT", tls,
        QString(entry).replace("NETRC=", "NETRC=0644:"));
    row("by the program: a mail server the resolver never answers", "--blackholed",
        "mail: mail.example was not ready within 100 ms (waiting at the look-up of mail.example)\n", "", "mail.example",
        scaled);
}

void TestMail::mails()
{
    QFETCH(QStringList, options);
    QFETCH(QString, failure);
    QFETCH(QString, commands);
    QFETCH(QString, field);
    QFETCH(QStringList, environment);
    const bool program = QByteArray(QTest::currentDataTag()).startsWith("by the program");
    const LoopbackPort blackholed = LoopbackPort::blackholed();
    std::optional<SmtpServer> server;
    if (options != QStringList { "--blackholed" })
        QVERIFY2(server.emplace(options).isRunning(), qPrintable(server->failure()));
    const QString port = QString::number(server ? server->port() : blackholed.port());
    QTemporaryDir home;
    QString recipients = "ops@test";
    for (const QString &variable : environment << "HOME=" + home.path()
                                               << "SSL_CERT_FILE=" + (server ? server->caFile() : "")) {
        const QByteArray name = variable.section('=', 0, 0).toUtf8(), value = variable.section('=', 1).toUtf8();
        if (name == "ABANDON") // the window closes
            QTimer::singleShot(value.toInt(), [] { EventWait::abandonAll(); });
        QVERIFY(name == "TO"         ? (recipients = value, true)
                : name == "ABANDON"  ? true
                : name == "MAILNAME" ? setMailName(value)
                : name == "NETRC"    ? writeNetrc(home.path(), value)
                                     : qputenv(name, value));
    }

    // The device's name, as a reader sees it in the subject and the text: control characters as blanks.
    const QString device = "D\1E\r\nBcc: evil@test\nGerät-東京-😀\t" + QString(2100, 'y');
    const QString seen = "D E  Bcc: evil@test Gerät-東京-😀 " + QString(2100, 'y');
    QString why;
    field.replace("%1", port);
    if (program) {
        const LoopbackPort probed = LoopbackPort::open();
        ProgramFolder folder;
        // The bounds end each run long before this; a look-up on the silent name server takes 20 s.
        const auto run = folder.run(
            { QStringLiteral("127.0.0.1,%1,5,PASS,,,%2,%3").arg(probed.port()).arg(field, recipients) }, 10000);
        QVERIFY(run.finished && run.exitCode == 0);
        why = QString::fromLocal8Bit(run.standardError);
        QCOMPARE(folder.logMessages("error.log"),
            why.isEmpty() ? std::nullopt : std::optional(QStringList { "Error sending SMTP email." }));
    } else {
        MailSender sender;
        QCOMPARE(modCommand::Send_ResultMail(sender, field, recipients, "23", device, true), failure.isEmpty());
        why = sender.lastFailure();
    }
    failure.replace("%1", port);
    QCOMPARE(why, failure);
    QTRY_COMPARE(server ? ::commands(*server) : QString(), commands);
    for (const QJsonObject &message : server ? server->records("message") : QList<QJsonObject>()) {
        const QJsonObject headers = message["headers"].toObject();
        QCOMPARE(message["problems"].toArray(), QJsonArray());
        QCOMPARE(message["to"], message["rcpt_tos"]);
        QCOMPARE(headers["From"].toArray(), QJsonArray { "Ostrel <" + message["mail_from"].toString() + ">" });
        QCOMPARE(headers["Subject"].toArray(), QJsonArray { "Port Check Passed on device " + seen });
        QCOMPARE(message["body"].toString(), "Port 23 on device " + seen + " is available.\r\n");
    }
}

QTEST_GUILESS_MAIN(TestMail)
#include "tst_mail.moc"
