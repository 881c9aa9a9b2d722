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

QString normalisedLines(QString text)
{
    return text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
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
    void serverNeverGreets();
    void serverRefusesConnection();
    void senderRejected();
    void recipientRejected_data();
    void recipientRejected();
    void droppedInDataThenNextMailGoesThrough();
    void longBodyArrivesIntact_data();
    void longBodyArrivesIntact();
    void lineBreaksInHeaderValues();
    void textBeyondAsciiInHeaders();
    void attachment();
    void missingAttachmentSendsNothing();
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
    QVERIFY(message.attachments.isEmpty());
    // The composed text does not linger in the store.
    QCOMPARE(TextStore::read(), QString());
}

void TestMailSender::recipientsText_data()
{
    QTest::addColumn<QString>("recipients");
    QTest::addColumn<QStringList>("envelope");
    QTest::addColumn<QString>("toHeader");
    QTest::newRow("two, blank after the comma") << "a@x, b@y" << QStringList{"a@x", "b@y"} << "a@x, b@y";
    // A header value's leading blanks are no part of it.
    QTest::newRow("blanks around every address")
        << " a@x ,  b@y , c@z " << QStringList{"a@x", "b@y", "c@z"} << "a@x ,  b@y , c@z ";
    QTest::newRow("empty entry between two") << "a@x,,b@y" << QStringList{"a@x", "b@y"} << "a@x,,b@y";
    QTest::newRow("trailing comma") << "a@x," << QStringList{"a@x"} << "a@x,";
    QTest::newRow("empty entry first") << ",a@x" << QStringList{"a@x"} << ",a@x";
}

void TestMailSender::recipientsText()
{
    QFETCH(QString, recipients);
    QFETCH(QStringList, envelope);
    QFETCH(QString, toHeader);

    SmtpServer server;
    QVERIFY2(server.isRunning(), qPrintable(server.failure()));
    MailSender sender;
    QVERIFY(modCommand::Send_ResultMail(sender, server.address(), recipients, QStringLiteral("25"),
                                        QStringLiteral("mail.test"), true));
    const auto messages = server.messages();
    QCOMPARE(messages.size(), 1);
    QCOMPARE(messages.at(0).rcptTos, envelope);
    // The header carries the text unchanged and unsplit.
    QCOMPARE(messages.at(0).rawHeader("To"), QStringList{toHeader});
}

void TestMailSender::splitRule_data()
{
    QTest::addColumn<QString>("recipients");
    QTest::addColumn<QStringList>("list");
    QTest::newRow("empty") << "" << QStringList{""};
    QTest::newRow("only blanks") << "   " << QStringList{""};
    QTest::newRow("one address") << " A " << QStringList{"A"};
    QTest::newRow("A,") << "A," << QStringList{"A"};
    QTest::newRow("A,,B") << "A,,B" << QStringList{"A", "", "B"};
    QTest::newRow("A, B ,") << "A, B ," << QStringList{"A", "B"};
    QTest::newRow("A, B, blanks") << "A, B,  " << QStringList{"A", "B"};
    QTest::newRow("comma alone") << "," << QStringList{""};
    QTest::newRow(",,A") << ",,A" << QStringList{"", "", "A"};
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
    QTest::newRow("both empty") << false << "" << true;
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
    MailSender sender;
    TextStore::put(QStringLiteral("untouched"));
    QCOMPARE(modCommand::Send_ResultMail(sender, server ? smtp.address() : QStringLiteral("   "), recipients,
                                         QStringLiteral("23"), QStringLiteral("D"), false),
             result);
    // Nothing was composed and nothing connected.
    QCOMPARE(TextStore::read(), QStringLiteral("untouched"));
    QCOMPARE(smtp.connections(), 0);
    TextStore::clear();
}

void TestMailSender::serverNeverGreets()
{
    const LoopbackPort silent = LoopbackPort::open();   // accepts, never says a word
    MailSender sender;
    QVERIFY(!modCommand::Send_ResultMail(sender, QStringLiteral("127.0.0.1:%1").arg(silent.port()),
                                         QStringLiteral("ops@test"), QStringLiteral("23"), QStringLiteral("D"), true));
    QCOMPARE(sender.intSmtpState(), qint16(0));
}

void TestMailSender::serverRefusesConnection()
{
    const LoopbackPort refused = LoopbackPort::refused();
    MailSender sender;
    QVERIFY(!modCommand::Send_ResultMail(sender, QStringLiteral("127.0.0.1:%1").arg(refused.port()),
                                         QStringLiteral("ops@test"), QStringLiteral("23"), QStringLiteral("D"), true));
    QCOMPARE(sender.intSmtpState(), qint16(-1));
}

void TestMailSender::senderRejected()
{
    SmtpServer::Options options;
    options.rejectSender = true;
    SmtpServer server(options);
    QVERIFY2(server.isRunning(), qPrintable(server.failure()));
    MailSender sender;
    QVERIFY(!modCommand::Send_ResultMail(sender, server.address(), QStringLiteral("ops@test"), QStringLiteral("23"),
                                         QStringLiteral("D"), false));
    QCOMPARE(server.connections(), 1);
    QVERIFY(server.messages().isEmpty());
}

void TestMailSender::recipientRejected_data()
{
    QTest::addColumn<QString>("recipients");
    QTest::addColumn<QStringList>("delivered");
    QTest::newRow("the only recipient") << "nobody@test" << QStringList{};
    QTest::newRow("one of two") << "nobody@test, ops@test" << QStringList{"ops@test"};
}

void TestMailSender::recipientRejected()
{
    QFETCH(QString, recipients);
    QFETCH(QStringList, delivered);
    SmtpServer::Options options;
    options.rejectRecipients = QStringList{"nobody@test"};
    SmtpServer server(options);
    QVERIFY2(server.isRunning(), qPrintable(server.failure()));
    MailSender sender;
    QVERIFY(!modCommand::Send_ResultMail(sender, server.address(), recipients, QStringLiteral("23"),
                                         QStringLiteral("D"), false));
    // The others still get the mail; the refusal is reported all the same.
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
    QCOMPARE(normalisedLines(messages.at(0).body), normalisedLines(body));
}

void TestMailSender::lineBreaksInHeaderValues()
{
    SmtpServer server;
    QVERIFY2(server.isRunning(), qPrintable(server.failure()));
    MailSender sender;
    // A device name from the command line can carry line breaks.
    QVERIFY(modCommand::Send_ResultMail(sender, server.address(), QStringLiteral("ops@test"), QStringLiteral("23"),
                                        QStringLiteral("D\r\nBcc: evil@test\nX-Injected: 1\r"), false));
    const auto messages = server.messages();
    QCOMPARE(messages.size(), 1);
    const auto &message = messages.at(0);
    QCOMPARE(message.headerNames(), kHeaderNames);
    QCOMPARE(message.rcptTos, QStringList{"ops@test"});
    QCOMPARE(message.header("Subject"),
             QStringList{"Port Check Failed on device D Bcc: evil@test X-Injected: 1 "});
    // In the body a line break is only text.
    QCOMPARE(normalisedLines(message.body),
             QStringLiteral("Port 23 on device D\nBcc: evil@test\nX-Injected: 1\n is un-available.\n"));

    // A recipient entry with a line break is no address: the others get
    // the mail, the header holds the text on one line, and the send reports false.
    QVERIFY(!sender.SMTPSEND(server.address(), kOstrel, QStringLiteral("s"), QStringLiteral("b"), QString(),
                             QStringLiteral("ops@test,\r\nCc: evil@test")));
    QCOMPARE(server.messages().size(), 2);
    QCOMPARE(server.messages().at(1).headerNames(), kHeaderNames);
    QCOMPARE(server.messages().at(1).rcptTos, QStringList{"ops@test"});
    QCOMPARE(server.messages().at(1).rawHeader("To"), QStringList{"ops@test, Cc: evil@test"});

    // A sender with a line break never reaches the server's envelope.
    QVERIFY(!sender.SMTPSEND(server.address(), QStringLiteral("Ostrel\r\nRCPT TO:<evil@test>"), QStringLiteral("s"),
                             QStringLiteral("b"), QString(), QStringLiteral("ops@test")));
    QCOMPARE(server.messages().size(), 2);
}

void TestMailSender::textBeyondAsciiInHeaders()
{
    // Long enough for several encoded words; characters of 1 to 4 bytes.
    const QString device = QString::fromUtf8("Gerät-Köln-東京-😀-").repeated(6);
    SmtpServer server;
    QVERIFY2(server.isRunning(), qPrintable(server.failure()));
    MailSender sender;
    QVERIFY(modCommand::Send_ResultMail(sender, server.address(), QStringLiteral("ops@test"), QStringLiteral("23"),
                                        device, true));
    const auto messages = server.messages();
    QCOMPARE(messages.size(), 1);
    QCOMPARE(messages.at(0).header("Subject"), QStringList{QStringLiteral("Port Check Passed on device ") + device});
    QCOMPARE(normalisedLines(messages.at(0).body),
             QStringLiteral("Port 23 on device ") + device + QStringLiteral(" is available.\n"));
    // Everything on the wire is 7-bit, in lines the standard allows.
    for (const QString &line : messages.at(0).data.split(QStringLiteral("\r\n"))) {
        QVERIFY2(line.size() <= 78, qPrintable(line));
        QVERIFY(std::all_of(line.cbegin(), line.cend(), [](QChar c) { return c.unicode() < 0x7f; }));
    }
}

void TestMailSender::attachment()
{
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("report.bin"));
    QByteArray content;
    for (int i = 0; i < 5000; ++i)
        content += char(i * 7);
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(content);
    }
    SmtpServer server;
    QVERIFY2(server.isRunning(), qPrintable(server.failure()));
    MailSender sender;
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
    QCOMPARE(messages.at(0).attachments.size(), 1);
    QCOMPARE(messages.at(0).attachments.at(0).fileName, QStringLiteral("report.bin"));
    QCOMPARE(messages.at(0).attachments.at(0).content, content);
    QVERIFY(messages.at(1).attachments.isEmpty());
    QCOMPARE(messages.at(1).rawHeader("Content-Type"), QStringList{"text/plain; charset=UTF-8"});
}

void TestMailSender::missingAttachmentSendsNothing()
{
    QTemporaryDir folder;
    SmtpServer server;
    QVERIFY2(server.isRunning(), qPrintable(server.failure()));
    MailSender sender;
    for (const QString &path : {folder.filePath(QStringLiteral("absent.txt")), folder.path()}) {
        QVERIFY(!sender.SMTPSEND(server.address(), kOstrel, QStringLiteral("s"), QStringLiteral("b"), path,
                                 QStringLiteral("ops@test")));
    }
    QCOMPARE(server.connections(), 0);
}

QTEST_GUILESS_MAIN(TestMailSender)
#include "tst_mailsender.moc"
