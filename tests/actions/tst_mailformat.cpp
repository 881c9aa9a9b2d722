// The mail's wire texts without sockets: replies, the mail server field,
// addresses, folding, the message text's line ends and .netrc.
#include "actions/MailFormat.h"

#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTest>

using namespace MailFormat;

class TestMailFormat : public QObject
{
    Q_OBJECT
private slots:
    void reply_data();
    void reply();
    void mailServer_data();
    void mailServer();
    void address_data();
    void address();
    void recipients_data();
    void recipients();
    void domain_data();
    void domain();
    void foldedLinesStayWithinLimits();
    void wire_data();
    void wire();
    void netrc_data();
    void netrc();
};

void TestMailFormat::reply_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<int>("state");   // ReplyState
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("left");
    const int complete = int(ReplyState::Complete);
    QTest::newRow("one line") << QByteArray("250 OK\r\n") << complete << 250 << "OK" << QByteArray();
    QTest::newRow("multi-line, next reply kept") << QByteArray("250-a\r\n250-b\n250 c\r\n354 go")
                                                 << complete << 250 << "a\nb\nc" << QByteArray("354 go");
    QTest::newRow("code alone") << QByteArray("221\r\n") << complete << 221 << "" << QByteArray();
    QTest::newRow("last line not in yet") << QByteArray("250-a\r\n250 b") << int(ReplyState::Incomplete) << 0
                                          << "" << QByteArray("250-a\r\n250 b");
    QTest::newRow("not a reply") << QByteArray("hello\r\n") << int(ReplyState::Unreadable) << 0 << "" << QByteArray();
    QTest::newRow("endless line") << QByteArray(70000, 'x') << int(ReplyState::Unreadable) << 0 << ""
                                  << QByteArray();
}

void TestMailFormat::reply()
{
    QFETCH(QByteArray, input);
    QFETCH(int, state);
    Reply reply;
    QCOMPARE(int(takeReply(input, reply)), state);
    if (state == int(ReplyState::Unreadable))
        return;
    QTEST(reply.code, "code");
    QTEST(reply.text, "text");
    QTEST(input, "left");
}

void TestMailFormat::mailServer_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("read");   // "security user host port", "" when refused
    QTest::newRow("bare host") << " mail.example " << "0  mail.example 25";
    QTest::newRow("host:port") << "mail.example:2525" << "0  mail.example 2525";
    QTest::newRow("[v6]:port") << "[::1]:26" << "0  ::1 26";
    QTest::newRow("bare v6") << "::1" << "0  ::1 25";
    QTest::newRow("smtps") << "smtps://relay.example" << "2  relay.example 465";
    QTest::newRow("smtp with user, port, slash") << "SMTP://alerts@relay.example:2587/" << "1 alerts relay.example 2587";
    QTest::newRow("encoded user, v6") << "smtp://a%40b@[::1]" << "1 a@b ::1 587";
    for (const char *bad : {"   ", "h:0", "h:70000", "[::1:25", "[::1]x", "smtp://::1", "smtp://@h", "smtps://"})
        QTest::newRow(bad) << bad << "";
}

void TestMailFormat::mailServer()
{
    QFETCH(QString, text);
    const auto server = readMailServer(text);
    QTEST(server ? QStringLiteral("%1 %2 %3 %4").arg(server->security).arg(server->user, server->host).arg(server->port)
                 : QString(),
          "read");
}

void TestMailFormat::address_data()
{
    QTest::addColumn<QString>("entry");
    QTest::addColumn<QString>("sent");   // "" when no address
    QTest::addColumn<bool>("utf8");
    QTest::newRow("plain") << "ops@b.c" << "ops@b.c" << false;
    QTest::newRow("domain beyond ASCII goes out as IDNA") << "ops@bü.c" << "ops@xn--b-eha.c" << false;
    QTest::newRow("local part beyond ASCII") << "jörg@b.c" << "jörg@b.c" << true;
    QTest::newRow("address literal") << "ops@[127.0.0.1]" << "ops@[127.0.0.1]" << false;
    for (const char *bad : {"", "ops", "@b.c", "ops@", "Cc: evil@test", "a..b@c", ".a@c", "a<b@c", "a@b..c",
                            "a@b c", "a@[999.1.1.1]"})
        QTest::newRow(bad) << bad << "" << false;
    QTest::newRow("longer than 254") << QString(251, QLatin1Char('a')) + "@b.c" << "" << false;
}

void TestMailFormat::address()
{
    QFETCH(QString, entry);
    const auto address = readAddress(entry);
    QTEST(address ? address->text() : QString(), "sent");
    QTEST(address && address->needsUtf8(), "utf8");
}

void TestMailFormat::recipients_data()
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

void TestMailFormat::recipients()
{
    QFETCH(QString, recipients);
    QTEST(splitRecipients(recipients), "list");
}

void TestMailFormat::domain_data()
{
    QTest::addColumn<QString>("hostName");
    QTest::addColumn<QString>("local");
    QTest::addColumn<QString>("domain");
    QTest::newRow("full name") << "probe.example.org" << "127.0.0.1" << "probe.example.org";
    QTest::newRow("short name: literal") << "vm" << "192.0.2.7" << "[192.0.2.7]";
    QTest::newRow("numeric name: in brackets") << "192.0.2.8" << "127.0.0.1" << "[192.0.2.8]";
    QTest::newRow("mapped v4") << "vm" << "::ffff:10.0.0.1" << "[10.0.0.1]";
    QTest::newRow("v6") << "vm" << "::1" << "[IPv6:::1]";
}

void TestMailFormat::domain()
{
    QFETCH(QString, hostName);
    QFETCH(QString, local);
    QTEST(mailDomain(hostName, local), "domain");
}

// Whatever a device name holds: no line over 998 octets (78 where it could
// be folded), no continuation line of only blanks, and plain text unfolds to
// exactly what was given.
void TestMailFormat::foldedLinesStayWithinLimits()
{
    const QStringList pieces{" ", "  ", "\t", "\t\t ", "word", QString(60, QLatin1Char('w')),
                             QString(950, QLatin1Char('x')), QString(100, QLatin1Char(' ')), "ü", "😀",
                             "\r\n", "\n", "Bcc: x@y", "=?UTF-8?B?", "日本"};
    QRandomGenerator random(20261207);
    for (int round = 0; round < 3000; ++round) {
        QString value;
        for (int n = random.bounded(1, 40); n > 0; --n)
            value += pieces.at(random.bounded(int(pieces.size())));
        QStringList addresses;
        for (int n = random.bounded(0, 80); n > 0; --n)
            addresses << QString(random.bounded(1, 240), QLatin1Char('a')) + QStringLiteral("@b.c");
        const QString field = round % 5 == 0 ? addressField(QStringLiteral("To"), addresses)
                                             : headerField(QStringLiteral("Subject"), value);
        QVERIFY(field.endsWith(QStringLiteral("\r\n")));
        const QStringList lines = field.chopped(2).split(QStringLiteral("\r\n"));
        for (qsizetype i = 0; i < lines.size(); ++i) {
            const QString &line = lines.at(i);
            QVERIFY2(line.toUtf8().size() <= 998, qPrintable(value));
            QVERIFY2(!line.contains(QLatin1Char('\r')) && !line.contains(QLatin1Char('\n')), qPrintable(value));
            QVERIFY2(i == 0 || (line.startsWith(QLatin1Char(' ')) && !line.trimmed().isEmpty()), qPrintable(value));
        }
        if (round % 5 == 0)
            continue;
        // Line breaks and other control characters read as blanks.
        QString blanked = value;
        blanked.replace(QStringLiteral("\r\n"), QStringLiteral(" "));
        for (QChar &c : blanked)
            c = c.unicode() < 0x20 ? QLatin1Char(' ') : c;
        const bool ascii = std::all_of(value.cbegin(), value.cend(), [](QChar c) { return c.unicode() < 0x7f; });
        if (ascii && !field.contains(QStringLiteral("?=")))
            QCOMPARE(lines.join(QString()), QStringLiteral("Subject: ") + blanked);
        else
            QVERIFY2(std::all_of(lines.cbegin(), lines.cend(), [](const QString &l) { return l.size() <= 78; }),
                     qPrintable(value));
    }
}

void TestMailFormat::wire_data()
{
    QTest::addColumn<QStringList>("pieces");
    QTest::addColumn<QByteArray>("wire");
    QTest::newRow("dot at a line start, in the next write")
        << QStringList{"line one\r\n", ".hidden\r\n"} << QByteArray("line one\r\n..hidden\r\n");
    QTest::newRow("lone dot line split over three writes")
        << QStringList{"x\r", "\n.", "\r\nafter"} << QByteArray("x\r\n..\r\nafter");
    QTest::newRow("dot after a CR that ends a write") << QStringList{"x\r", ".y"} << QByteArray("x\r\n..y");
    QTest::newRow("bare LF and bare CR") << QStringList{"a\nb\rc\r\r\nd"} << QByteArray("a\r\nb\r\nc\r\n\r\nd");
    QTest::newRow("dot inside a line, at a write's start") << QStringList{"a.", ".b"} << QByteArray("a..b");
}

void TestMailFormat::wire()
{
    QFETCH(QStringList, pieces);
    WireState state;
    QByteArray wire;
    for (const QString &piece : pieces)
        wire += toWire(piece, state);
    QTEST(wire, "wire");
}

void TestMailFormat::netrc_data()
{
    QTest::addColumn<QString>("netrc");
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("login");   // "user:password", "" for none
    const QString two = "machine other.example login x password y\n"
                        "machine Relay.example\n  login alerts\n  password \"s e\\\"cret\"\n"
                        "machine relay.example login ops password two\n";
    QTest::newRow("first entry of the host") << two << "" << "alerts:s e\"cret";
    QTest::newRow("the entry of the user") << two << "ops" << "ops:two";
    QTest::newRow("user not there") << two << "nobody" << "";
    QTest::newRow("default") << "machine a login b password c default login d password e" << "" << "d:e";
    QTest::newRow("nothing") << "" << "" << "";
}

void TestMailFormat::netrc()
{
    QFETCH(QString, netrc);
    QFETCH(QString, user);
    const auto login = netrcLogin(netrc, QStringLiteral("relay.example"), user);
    QTEST(login ? login->user + QLatin1Char(':') + login->password : QString(), "login");
}

QTEST_GUILESS_MAIN(TestMailFormat)
#include "tst_mailformat.moc"
