// The mail sender and the result mail against a real SMTP server on loopback.
#include "LoopbackPeers.h"
#include "SmtpServer.h"
#include "actions/MailSender.h"
#include "actions/ResultMail.h"
#include "actions/TextStore.h"

#include <QTemporaryDir>
#include <QTest>

namespace {

const QString kOstrel = QStringLiteral("Ostrel");
const QStringList kHeaderNames{"Date", "From", "To", "Subject", "MIME-Version", "Content-Type",
                               "Content-Transfer-Encoding"};

// Line breaks of any kind as LF, as the server's parser hands back a text part.
QString lfLines(QString text)
{
    return text.replace(QStringLiteral("\r\n"), QStringLiteral("\n")).replace(QLatin1Char('\r'), QLatin1Char('\n'));
}

bool sendResultMail(const QString &server, const QString &recipients, const QString &device, bool passed)
{
    MailSender sender;
    return modCommand::Send_ResultMail(sender, server, recipients, QStringLiteral("23"), device, passed);
}

} // namespace

class TestMailSender : public QObject
{
    Q_OBJECT
private slots:
    void resultMail_data();
    void resultMail();
    void recipientsText_data();
    void recipientsText();
    void splitRule_data();
    void splitRule();
    void nothingToSend_data();
    void nothingToSend();
    void serverUnusable_data();
    void serverUnusable();
    void refusals_data();
    void refusals();
    void droppedInDataThenNextMailGoesThrough();
    void longBodyArrivesIntact_data();
    void longBodyArrivesIntact();
    void headerValues_data();
    void headerValues();
    void attachment();
};

void TestMailSender::resultMail_data()
{
    QTest::addColumn<bool>("passed");
    QTest::addColumn<QString>("subject");
    QTest::addColumn<QString>("text");
    QTest::newRow("failed") << false << "Port Check Failed on device D" << "Port 23 on device D is un-available.";
    QTest::newRow("passed") << true << "Port Check Passed on device D" << "Port 23 on device D is available.";
}

void TestMailSender::resultMail()
{
    QFETCH(bool, passed);
    QFETCH(QString, subject);
    QFETCH(QString, text);

    SmtpServer server;
    QVERIFY2(server.isRunning(), qPrintable(server.failure()));
    MailSender sender;
    QVERIFY(modCommand::Send_ResultMail(sender, server.address(), QStringLiteral("ops@test"),
                                        QStringLiteral("23"), QStringLiteral("D"), passed));
    QCOMPARE(sender.intSmtpState(), qint16(1));

    const auto messages = server.messages();
    QCOMPARE(messages.size(), 1);
    const auto &message = messages.at(0);
    QCOMPARE(message.parseError, QString());
    QCOMPARE(message.mailFrom, kOstrel);
    QCOMPARE(message.rcptTos, QStringList{"ops@test"});
    QCOMPARE(message.headerNames(), kHeaderNames);
    QCOMPARE(message.rawHeader("From"), QStringList{kOstrel});
    QCOMPARE(message.rawHeader("To"), QStringList{"ops@test"});
    QCOMPARE(message.rawHeader("Subject"), QStringList{subject});
    QCOMPARE(message.rawHeader("MIME-Version"), QStringList{"1.0"});
    QCOMPARE(message.rawHeader("Content-Type"), QStringList{"text/plain; charset=UTF-8"});
    QVERIFY(!message.header("Date").constFirst().isEmpty());
    QCOMPARE(message.body, text + QStringLiteral("\r\n"));
    // The composed text does not linger in the store.
    QCOMPARE(TextStore::read(), QString());
}

void TestMailSender::recipientsText_data()
{
    QTest::addColumn<QString>("recipients");
    QTest::addColumn<QStringList>("envelope");
    QTest::addColumn<QString>("toHeader");
    QTest::addColumn<bool>("result");
    QTest::newRow("two, blank after the comma") << "a@x, b@y" << QStringList{"a@x", "b@y"} << "a@x, b@y" << true;
    // An empty entry is no address: no RCPT for it, the others get the mail.
    QTest::newRow("empty entry between two") << "a@x,,b@y" << QStringList{"a@x", "b@y"} << "a@x,,b@y" << true;
    // Neither is an entry with a line break; the failure is reported.
    QTest::newRow("line break in an entry") << "ops@test,\r\nCc: evil@test" << QStringList{"ops@test"}
                                            << "ops@test, Cc: evil@test" << false;
}

void TestMailSender::recipientsText()
{
    QFETCH(QString, recipients);
    QFETCH(QStringList, envelope);
    QFETCH(QString, toHeader);
    QFETCH(bool, result);

    SmtpServer server;
    QVERIFY2(server.isRunning(), qPrintable(server.failure()));
    QCOMPARE(sendResultMail(server.address(), recipients, QStringLiteral("D"), true), result);
    const auto messages = server.messages();
    QCOMPARE(messages.size(), 1);
    QCOMPARE(messages.at(0).rcptTos, envelope);
    // The header carries the text unsplit, on one line.
    QCOMPARE(messages.at(0).headerNames(), kHeaderNames);
    QCOMPARE(messages.at(0).rawHeader("To"), QStringList{toHeader});
}

void TestMailSender::splitRule_data()
{
    QTest::addColumn<QString>("recipients");
    QTest::addColumn<QStringList>("list");
    QTest::newRow("empty") << "" << QStringList{""};
    QTest::newRow("only blanks") << "   " << QStringList{""};
    QTest::newRow("A,") << "A," << QStringList{"A"};
    QTest::newRow("A,,B") << "A,,B" << QStringList{"A", "", "B"};
    QTest::newRow("blanks trimmed, blanks after the last comma") << " A , B ,  " << QStringList{"A", "B"};
    QTest::newRow(",, A ") << ",, A " << QStringList{"", "", "A"};
}

void TestMailSender::splitRule()
{
    QFETCH(QString, recipients);
    QFETCH(QStringList, list);
    int yields = 0;
    QCOMPARE(MailSender::recipientList(recipients, [&yields] { ++yields; }), list);
    QCOMPARE(yields, recipients.count(QLatin1Char(',')) + 1);
}

void TestMailSender::nothingToSend_data()
{
    QTest::addColumn<bool>("server");
    QTest::addColumn<QString>("recipients");
    QTest::addColumn<bool>("result");
    QTest::newRow("both blank") << false << "  " << true;
    QTest::newRow("no recipients") << true << " " << false;
    QTest::newRow("no server") << false << "ops@test" << false;
}

void TestMailSender::nothingToSend()
{
    QFETCH(bool, server);
    QFETCH(QString, recipients);
    QFETCH(bool, result);

    SmtpServer smtp;
    QVERIFY2(smtp.isRunning(), qPrintable(smtp.failure()));
    TextStore::put(QStringLiteral("untouched"));
    QCOMPARE(sendResultMail(server ? smtp.address() : QStringLiteral("   "), recipients, QStringLiteral("D"), false),
             result);
    // Nothing was composed and nothing connected.
    QCOMPARE(TextStore::read(), QStringLiteral("untouched"));
    QCOMPARE(smtp.connections(), 0);
    TextStore::clear();
}

void TestMailSender::serverUnusable_data()
{
    QTest::addColumn<bool>("greetsNever");
    QTest::addColumn<int>("state");
    // Accepts TCP, never says a word: false once the 10 s bound is over.
    QTest::newRow("never greets") << true << 0;
    // The error notification ends the wait at once.
    QTest::newRow("refuses the connection") << false << -1;
}

void TestMailSender::serverUnusable()
{
    QFETCH(bool, greetsNever);
    QFETCH(int, state);
    const LoopbackPort port = greetsNever ? LoopbackPort::open() : LoopbackPort::refused();
    MailSender sender;
    QVERIFY(!modCommand::Send_ResultMail(sender, QStringLiteral("127.0.0.1:%1").arg(port.port()),
                                         QStringLiteral("ops@test"), QStringLiteral("23"), QStringLiteral("D"), true));
    QCOMPARE(sender.intSmtpState(), qint16(state));
}

void TestMailSender::refusals_data()
{
    QTest::addColumn<bool>("rejectSender");
    QTest::addColumn<QString>("from");
    QTest::addColumn<QString>("recipients");
    QTest::addColumn<QStringList>("delivered");
    QTest::newRow("the sender") << true << kOstrel << "ops@test" << QStringList{};
    // Never reaches the server's envelope.
    QTest::newRow("a sender with a line break") << false << "Ostrel\r\nRCPT TO:<evil@test>" << "ops@test"
                                                << QStringList{};
    QTest::newRow("the only recipient") << false << kOstrel << "nobody@test" << QStringList{};
    QTest::newRow("one of two recipients") << false << kOstrel << "nobody@test, ops@test" << QStringList{"ops@test"};
}

void TestMailSender::refusals()
{
    QFETCH(bool, rejectSender);
    QFETCH(QString, from);
    QFETCH(QString, recipients);
    QFETCH(QStringList, delivered);
    SmtpServer::Options options;
    options.rejectSender = rejectSender;
    options.rejectRecipients = QStringList{"nobody@test"};
    SmtpServer server(options);
    QVERIFY2(server.isRunning(), qPrintable(server.failure()));
    MailSender sender;
    QVERIFY(!sender.SMTPSEND(server.address(), from, QStringLiteral("s"), QStringLiteral("b"), QString(), recipients));
    // The others still get the mail; the refusal is reported all the same.
    QCOMPARE(server.connections(), 1);
    const auto messages = server.messages();
    QCOMPARE(messages.size(), delivered.isEmpty() ? 0 : 1);
    if (!delivered.isEmpty())
        QCOMPARE(messages.at(0).rcptTos, delivered);
}

void TestMailSender::droppedInDataThenNextMailGoesThrough()
{
    SmtpServer::Options options;
    options.dropInData = true;
    SmtpServer dropping(options);
    QVERIFY2(dropping.isRunning(), qPrintable(dropping.failure()));
    MailSender sender;
    QVERIFY(!sender.SMTPSEND(dropping.address(), kOstrel, QStringLiteral("dropped"),
                             QString(20000, QLatin1Char('y')), QString(), QStringLiteral("ops@test")));
    QVERIFY(dropping.messages().isEmpty());

    // The same sender is not left in a broken state.
    SmtpServer server;
    QVERIFY2(server.isRunning(), qPrintable(server.failure()));
    QVERIFY(sender.SMTPSEND(server.address(), kOstrel, QStringLiteral("next"), QStringLiteral("body"), QString(),
                            QStringLiteral("ops@test")));
    QCOMPARE(server.messages().size(), 1);
}

void TestMailSender::longBodyArrivesIntact_data()
{
    QTest::addColumn<QString>("extra");
    QTest::newRow("plain ASCII") << "";
    QTest::newRow("beyond ASCII") << QString::fromUtf8(" Grüße aus Köln 😀");
}

void TestMailSender::longBodyArrivesIntact()
{
    QFETCH(QString, extra);
    QString body;
    for (int line = 0; body.size() < 9000; ++line) {
        switch (line % 4) {
        case 0: body += QStringLiteral("."); break;   // a line of a dot alone
        case 1: body += QStringLiteral(".leading dot %1").arg(line) + extra; break;
        case 2: body += QStringLiteral("..two dots %1").arg(line); break;
        default: body += QStringLiteral("plain line %1 ").arg(line).leftJustified(70, QLatin1Char('-')); break;
        }
        body += QStringLiteral("\r\n");
    }
    SmtpServer server;
    QVERIFY2(server.isRunning(), qPrintable(server.failure()));
    MailSender sender;
    QVERIFY(sender.SMTPSEND(server.address(), kOstrel, QStringLiteral("long"), body, QString(),
                            QStringLiteral("ops@test")));
    const auto messages = server.messages();
    QCOMPARE(messages.size(), 1);
    QCOMPARE(lfLines(messages.at(0).body), lfLines(body));
}

void TestMailSender::headerValues_data()
{
    QTest::addColumn<QString>("device");
    QTest::addColumn<QString>("seen");   // in the subject, as a reader sees it

    QString words;
    for (int i = 0; i < 60; ++i)
        words += QStringLiteral(" word%1").arg(i);
    const QString oneLongWord(1500, QLatin1Char('w'));
    // Long enough for several encoded words; characters of 1 to 4 bytes.
    const QString beyond = QString::fromUtf8("Gerät-Köln-東京-😀-").repeated(6);

    // A device name from the command line can carry line breaks.
    QTest::newRow("line breaks and control characters")
        << QStringLiteral("D\x01" "E\r\nBcc: evil@test\nX-Injected: 1\r") << "D E Bcc: evil@test X-Injected: 1 ";
    QTest::newRow("long text, folded at blanks") << words << words;
    QTest::newRow("one word beyond any line") << oneLongWord << oneLongWord;
    QTest::newRow("beyond ASCII") << beyond << beyond;
}

void TestMailSender::headerValues()
{
    QFETCH(QString, device);
    QFETCH(QString, seen);

    SmtpServer server;
    QVERIFY2(server.isRunning(), qPrintable(server.failure()));
    QVERIFY(sendResultMail(server.address(), QStringLiteral("ops@test"), device, true));
    const auto messages = server.messages();
    QCOMPARE(messages.size(), 1);
    const auto &message = messages.at(0);
    QCOMPARE(message.headerNames(), kHeaderNames);
    QCOMPARE(message.rcptTos, QStringList{"ops@test"});
    QCOMPARE(message.header("Subject"), QStringList{QStringLiteral("Port Check Passed on device ") + seen});
    // In the body a line break is only text.
    QCOMPARE(lfLines(message.body), lfLines(QStringLiteral("Port 23 on device ") + device + " is available.\n"));
    // Everything on the wire is 7-bit, header lines within 78, every line within 998.
    const QStringList lines = message.data.split(QStringLiteral("\r\n"));
    for (qsizetype i = 0; i < lines.size(); ++i) {
        QVERIFY2(lines[i].size() <= (i < lines.indexOf(QString()) ? 78 : 998), qPrintable(lines[i].left(80)));
        QVERIFY(std::all_of(lines[i].cbegin(), lines[i].cend(), [](QChar c) { return c.unicode() < 0x7f; }));
    }
}

void TestMailSender::attachment()
{
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("report.bin"));
    const QByteArray content = QByteArray("\0\xff\r\n.\x7f=", 7).repeated(700);
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(content) == content.size());
    file.close();
    SmtpServer server;
    QVERIFY2(server.isRunning(), qPrintable(server.failure()));
    MailSender sender;
    // A file that is not there, or a folder: nothing is sent, no connection made.
    for (const QString &missing : {folder.filePath(QStringLiteral("absent.txt")), folder.path()}) {
        QVERIFY(!sender.SMTPSEND(server.address(), kOstrel, QStringLiteral("s"), QStringLiteral("b"), missing,
                                 QStringLiteral("ops@test")));
    }
    QCOMPARE(server.connections(), 0);
    QVERIFY(sender.SMTPSEND(server.address(), kOstrel, QStringLiteral("with a file"), QStringLiteral("see file"),
                            path, QStringLiteral("ops@test")));
    // The next mail without an attachment carries none of the earlier one.
    QVERIFY(sender.SMTPSEND(server.address(), kOstrel, QStringLiteral("no file"), QStringLiteral("plain"),
                            QString(), QStringLiteral("ops@test")));

    const auto messages = server.messages();
    QCOMPARE(messages.size(), 2);
    QCOMPARE(messages.at(0).parseError, QString());
    // The line break before a boundary belongs to the boundary.
    QCOMPARE(messages.at(0).body, QStringLiteral("see file"));
    QCOMPARE(messages.at(0).attachments, (QList<QPair<QString, QByteArray>>{{"report.bin", content}}));
    QVERIFY(messages.at(1).attachments.isEmpty());
    QCOMPARE(messages.at(1).rawHeader("Content-Type"), QStringList{"text/plain; charset=UTF-8"});
}

QTEST_GUILESS_MAIN(TestMailSender)
#include "tst_mailsender.moc"
