// The result mail: its texts, and whole mails to SMTP peers on loopback (smtp_server.py), in
// process and by the program. This host is "vm", with no domain; its look-ups stay on loopback.
#include "LoopbackPeers.h"
#include "LoopbackResolver.h"
#include "SmtpServer.h"
#include "mail/MailFormat.h"
#include "mail/MailSender.h"
#include "mail/ResultMail.h"
#include "qt/EventWait.h"

#include <QProcess>
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
        EventWait::resetAbandoned();
    }
    void texts();
    void mails_data();
    void mails();
};

// What the readers make of a text ("" for refused).
void TestMail::texts()
{
    const auto netrc = [](const QString &text, const QString &user = {}) {
        const auto login = MailFormat::netrcLogin(text, "relay.example", user);
        return login ? login->user + ':' + login->password : QString();
    };
    const QString entries = "machine other.example login x password y\nmachine Relay.example\n  login alerts\n"
                            "  password \"s e\\\"cret\"\nmachine relay.example login ops password two\n";
    QCOMPARE(MailFormat::defaultSender("alerts", "vm\n", "probe.example.org", "::1"), "ostrel@probe.example.org");
    QCOMPARE(netrc(entries), "alerts:s e\"cret");
    QCOMPARE(netrc(entries, "ops"), "ops:two");
    QCOMPARE(netrc("machine a login b password c default login d password e"), "d:e");
    QCOMPARE(netrc("default login a\ndefault login b password c\n"), "");
    QCOMPARE(netrc("machine relay.example password\nmachine x login l password p\n"), "");
    QCOMPARE(
        netrc("macdef m\nmachine relay.example login evil password e\n\nmachine relay.example login ok password k"),
        "ok:k");
    QCOMPARE(netrc("machine relay.example login a password \"b"), "");
}

// Whole mails: the failure (by the program: its standard error), the commands received, each message as read.
void TestMail::mails_data()
{
    QTest::addColumn<QStringList>("options"); // smtp_server.py's
    QTest::addColumn<QString>("failure"); // %1: the mail server
    QTest::addColumn<QString>("commands");
    // Variables, and MAILNAME, NETRC (writeNetrc), TO (the recipients), FIELD (the mail server; %1: the server's port,
    // %2: a port that never answers; else the server's, with the scheme of its TLS).
    QTest::addColumn<QStringList>("environment");
    const auto row = [](const QString &name, const QString &options, const QString &failure, const QString &commands,
                         const QString &environment = {}) {
        QTest::newRow(qPrintable(name)) << options.split('|', Qt::SkipEmptyParts) << failure << commands
                                        << environment.split('|', Qt::SkipEmptyParts);
    };
    const QString sent = "EHLO MAIL RCPT DATA QUIT", login = "--tls|implicit|--login|alerts:s3cret";
    const QString entry = "machine 127.0.0.1 login alerts password s3cret";
    const QString noLogin = "MAIL FROM:<ostrel@vm> refused: 530 5.7.0 Authentication required (set OSTREL_MAIL_FROM)";
    const QString scaled = "OSTREL_TEST_MAIL_TIME_SCALE=100"; // ready 100 ms, a reply 300, the verdict 600, all 1200
    const QString notReady = "%1 was not ready within 100 ms (waiting at ";
    for (const QString tls : { "starttls", "implicit" }) // the system's certificates alone
        row(tls + ", a certificate not trusted", "--tls|" + tls,
            "TLS with 127.0.0.1 failed: The certificate is self-signed, and untrusted",
            tls == "starttls" ? "EHLO STARTTLS" : "", "SSL_CERT_FILE=");
    row("STARTTLS, AUTH LOGIN alone, .netrc with comments, the login an address",
        "--tls|starttls|--login-only|--login|alerts@corp.example:s3cret", "",
        "EHLO STARTTLS EHLO AUTH MAIL FROM:<alerts@corp.example> RCPT DATA QUIT",
        "NETRC=# relay\nmachine 127.0.0.1 login alerts@corp.example password s3cret");
    row("the login of another entry is never lent", login, noLogin, "EHLO MAIL QUIT",
        "NETRC=machine 127.0.0.1 #office\nmachine relay.example.org # SMTP relay\n  login alerts password s3cret");
    row(".netrc of another user", login, noLogin, "EHLO MAIL QUIT", "NETRC=nobody:" + entry);
    row(".netrc, a FIFO nobody writes", login, noLogin, "EHLO MAIL QUIT", "NETRC=fifo");
    row("a recipient that would split a command", "", "RCPT TO:<x@[  ::1]> not sent: not an address", sent,
        "TO=ok@example.org,x@[\r\n::1]");
    row("a refusal, then a line that is no reply", "MAIL=550 5.7.1 sender\u009bblacklisted\u2028\r\nno reply",
        "MAIL FROM:<a@b.example> refused: 550 5.7.1 sender blacklisted (set OSTREL_MAIL_FROM)",
        "EHLO MAIL FROM:<a@b.example>", "OSTREL_MAIL_FROM=a@b.example");
    row("no connection", "", notReady + "connect)", "", scaled + "|FIELD=127.0.0.1:%2");
    row("no greeting", "GREETING=", notReady + "greeting)", "", scaled);
    row("no answer to EHLO", "EHLO=", notReady + "EHLO)", "EHLO QUIT", scaled);
    row("no answer to STARTTLS", "EHLO=250-raw\r\n250 STARTTLS|STARTTLS=", notReady + "TLS)", "EHLO STARTTLS QUIT",
        scaled + "|FIELD=smtp://127.0.0.1:%1");
    row("no answer to AUTH", login + "|--delay|1.5", "%1 was not ready within 1 s (waiting at AUTH)", "EHLO AUTH",
        "OSTREL_TEST_MAIL_TIME_SCALE=10|NETRC=" + entry);
    row("no answer to RCPT", "RCPT=", "RCPT TO:<ops@test>: no answer within 300 ms", "EHLO MAIL RCPT", scaled);
    row("no verdict on the message", ".=", "the end of the message: no answer within 600 ms", "EHLO MAIL RCPT DATA",
        scaled);
    row("the window closed while the mail waits", "RCPT=", "the mail was stopped", "EHLO MAIL RCPT", "CLOSE=200");
    row("by the program: stock exim, no mail name", "--exim", "", sent);
    row("by the program: stock exim, /etc/mailname", "--exim", "",
        "EHLO MAIL FROM:<ostrel@mail.ostrel-test.example> RCPT DATA QUIT", "MAILNAME=mail.ostrel-test.example\n");
    row("by the program: .netrc readable by others", login,
        "mail: ~/.netrc is readable by others (chmod 600)\nmail: " + noLogin + "\n", "EHLO MAIL QUIT",
        "NETRC=0644:" + entry);
    row("by the program: a mail server the resolver never answers", "",
        "mail: " + notReady + "the look-up of mail.example)\n", "", scaled + "|FIELD=mail.example");
}

void TestMail::mails()
{
    QFETCH(QStringList, options);
    QFETCH(QString, failure);
    QFETCH(QString, commands);
    QFETCH(QStringList, environment);
    const LoopbackPort blackholed = LoopbackPort::blackholed();
    const SmtpServer server(options);
    QVERIFY2(server.isRunning(), qPrintable(server.failure()));
    const QString scheme = options.contains("--tls") ? options.contains("starttls") ? "smtp://" : "smtps://" : "";
    QString field = scheme + "127.0.0.1:%1", recipients = "ops@test";
    QTemporaryDir home;
    const QStringList defaults { "HOME=" + home.path(), "SSL_CERT_FILE=" + server.caFile(),
        "MAILNAME=", "OSTREL_MAIL_FROM=", "OSTREL_TEST_MAIL_TIME_SCALE=" };
    for (const QString &variable : defaults + environment) {
        const QByteArray name = variable.section('=', 0, 0).toUtf8(), value = variable.section('=', 1).toUtf8();
        if (name == "TO" || name == "FIELD")
            (name == "TO" ? recipients : field) = value;
        else if (name == "CLOSE") // as the window does when it closes
            QTimer::singleShot(value.toInt(), [] { EventWait::abandonAll(); });
        else
            QVERIFY(name == "MAILNAME" ? setMailName(value)
                    : name == "NETRC"  ? writeNetrc(home.path(), value)
                                       : qputenv(name, value));
    }
    field.replace("%1", QString::number(server.port())).replace("%2", QString::number(blackholed.port()));

    // The device's name (and in process the port), as a reader sees them in the subject and the text: control
    // characters as blanks.
    const QString device = "D\1E\r\nBcc: evil@test\nGerät-東京-😀\t" + QString(2100, 'y');
    const QString seen = "D E  Bcc: evil@test Gerät-東京-😀 " + QString(2100, 'y');
    QString why;
    if (QByteArray(QTest::currentDataTag()).startsWith("by the program")) {
        const LoopbackPort probed = LoopbackPort::open();
        const QTemporaryDir logs;
        QProcess program; // the built program, its logs in a folder of the test's
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("OSTREL_LOG_DIR", logs.path());
        program.setProcessEnvironment(environment);
        // The bounds end each run long before this; a look-up on the silent name server takes 20 s.
        program.start(OSTREL_PROGRAM,
            { QStringLiteral("127.0.0.1,%1,5,PASS,,,%2,%3").arg(probed.port()).arg(field, recipients) });
        QVERIFY(program.waitForFinished(10000) && program.exitCode() == 0);
        why = QString::fromLocal8Bit(program.readAllStandardError());
        QFile log(logs.filePath("error.log"));
        QCOMPARE(log.open(QIODevice::ReadOnly) ? QString(log.readAll()).section('\t', 1) : QString(),
            why.isEmpty() ? QString() : "Error sending SMTP email.\r\n");
    } else {
        MailSender sender;
        QCOMPARE(ResultMail::Send_ResultMail(sender, field, recipients, "23\r\nX: y", device, true), failure.isEmpty());
        why = sender.lastFailure();
    }
    QCOMPARE(why, failure.replace("%1", field));
    QTRY_COMPARE(server.lines().join(' ').replace("MAIL FROM:<ostrel@vm>", "MAIL"), commands);
    for (const SmtpServer::Message &message : server.messages()) {
        QCOMPARE(message.header("Subject"), QStringList { "Port Check Passed on device " + seen });
        QCOMPARE(message.body, "Port 23  X: y on device " + seen + " is available.\r\n");
    }
}

QTEST_GUILESS_MAIN(TestMail)
#include "tst_mail.moc"
