// The mail's wire texts without sockets: replies, the mail server field,
// addresses, folding, the message text's line ends and .netrc.
#include "actions/MailFormat.h"

#include <QRandomGenerator>
#include <QTest>

using namespace MailFormat;

class TestMailFormat : public QObject
{
    Q_OBJECT
private slots:
    void texts_data();
    void texts();
    void foldedLinesStayWithinLimits();
};

// Each row: a reader, its input and what it read, written as one line.
void TestMailFormat::texts_data()
{
    QTest::addColumn<QString>("reader");
    QTest::addColumn<QString>("input");
    QTest::addColumn<QString>("read");
    int rows = 0;
    const auto row = [&rows](const char *reader, const QString &input, const QString &read) {
        QTest::addRow("%s %d", reader, ++rows) << QString::fromLatin1(reader) << input << read;
    };
    // Replies: state (0 incomplete, 1 complete, 2 unreadable), code, text | what is left.
    row("reply", "250 OK\r\n", "1 250 OK|");
    row("reply", "250-a\r\n250-b\n250 c\r\n354 go", "1 250 a\nb\nc|354 go");
    row("reply", "221\r\n", "1 221 |");
    row("reply", "250-a\r\n250 b", "0 0 |250-a\r\n250 b");
    row("reply", "hello\r\n", "2 0 |hello\r\n");
    row("reply", QString(70000, QLatin1Char('x')), "2 0 |" + QString(70000, QLatin1Char('x')));
    // The mail server field: security user host port, "" when refused.
    row("server", " mail.example ", "0  mail.example 25");
    row("server", "mail.example:2525", "0  mail.example 2525");
    row("server", "[::1]:26", "0  ::1 26");
    row("server", "::1", "0  ::1 25");
    row("server", "smtps://relay.example", "2  relay.example 465");
    row("server", "SMTP://alerts@relay.example:2587/", "1 alerts relay.example 2587");
    row("server", "smtp://a%40b@[::1]", "1 a@b ::1 587");
    for (const char *bad : {"   ", "h:0", "h:70000", "[::1:25", "[::1]x", "smtp://::1", "smtp://@h", "smtps://"})
        row("server", bad, "");
    // Recipients: the address as sent, "+utf8" when it needs SMTPUTF8, "" for no address.
    row("address", "ops@b.c", "ops@b.c");
    row("address", "ops@bü.c", "ops@xn--b-eha.c");
    row("address", "jörg@b.c", "jörg@b.c+utf8");
    row("address", "ops@[127.0.0.1]", "ops@[127.0.0.1]");
    for (const char *bad : {"", "ops", "@b.c", "ops@", "Cc: evil@test", "a..b@c", ".a@c", "a<b@c", "a@b..c",
                            "a@b c", "a@[999.1.1.1]"})
        row("address", bad, "");
    row("address", QString(251, QLatin1Char('a')) + "@b.c", "");
    // The recipients text split at commas, entries joined by "|".
    row("split", "", "");
    row("split", "   ", "");
    row("split", "A,", "A");
    row("split", "A,,B", "A||B");
    row("split", " A , B ,  ", "A|B");
    row("split", ",, A ", "||A");
    // This machine as a mail domain from its host name and local address.
    row("domain", "probe.example.org 127.0.0.1", "probe.example.org");
    row("domain", "vm 192.0.2.7", "[192.0.2.7]");
    row("domain", "192.0.2.8 127.0.0.1", "[192.0.2.8]");
    row("domain", "vm ::ffff:10.0.0.1", "[10.0.0.1]");
    row("domain", "vm ::1", "[IPv6:::1]");
    // The message text written in the pieces split at "|": CR LF line ends, dots doubled.
    row("wire", "line one\r\n|.hidden\r\n", "line one\r\n..hidden\r\n");
    row("wire", "x\r|\n.|\r\nafter", "x\r\n..\r\nafter");
    row("wire", "x\r|.y", "x\r\n..y");
    row("wire", "a\nb\rc\r\r\nd", "a\r\nb\r\nc\r\n\r\nd");
    row("wire", "a.|.b", "a..b");
    // .netrc for relay.example: "user|netrc" in, "login:password" out.
    const QString two = "machine other.example login x password y\n"
                        "machine Relay.example\n  login alerts\n  password \"s e\\\"cret\"\n"
                        "machine relay.example login ops password two\n";
    row("netrc", "|" + two, "alerts:s e\"cret");
    row("netrc", "ops|" + two, "ops:two");
    row("netrc", "nobody|" + two, "");
    row("netrc", "|machine a login b password c default login d password e", "d:e");
    row("netrc", "|", "");
}

void TestMailFormat::texts()
{
    QFETCH(QString, reader);
    QFETCH(QString, input);
    QString read;
    if (reader == QLatin1String("reply")) {
        QByteArray bytes = input.toUtf8();
        Reply reply;
        const int state = int(takeReply(bytes, reply));
        read = QStringLiteral("%1 %2 %3|").arg(state).arg(reply.code).arg(reply.text) + QString::fromUtf8(bytes);
    } else if (reader == QLatin1String("server")) {
        if (const auto server = readMailServer(input))
            read = QStringLiteral("%1 %2 %3 %4").arg(server->security).arg(server->user, server->host).arg(server->port);
    } else if (reader == QLatin1String("address")) {
        if (const auto address = readAddress(input))
            read = address->text() + (address->needsUtf8() ? QStringLiteral("+utf8") : QString());
    } else if (reader == QLatin1String("split")) {
        read = splitRecipients(input).join(QLatin1Char('|'));
    } else if (reader == QLatin1String("domain")) {
        read = mailDomain(input.section(QLatin1Char(' '), 0, 0), input.section(QLatin1Char(' '), 1));
    } else if (reader == QLatin1String("wire")) {
        WireState state;
        for (const QString &piece : input.split(QLatin1Char('|')))
            read += QString::fromUtf8(toWire(piece, state));
    } else if (const auto login = netrcLogin(input.section(QLatin1Char('|'), 1), QStringLiteral("relay.example"),
                                             input.section(QLatin1Char('|'), 0, 0))) {
        read = login->user + QLatin1Char(':') + login->password;
    }
    QTEST(read, "read");
}

// Whatever a device name or recipient list holds: no line over 998 octets
// (78 where it is encoded), no continuation line of only blanks, and plain text unfolds to
// what was given with control characters as blanks.
void TestMailFormat::foldedLinesStayWithinLimits()
{
    const QStringList pieces{" ", "  ", "\t", "\t\t ", "word", QString(60, QLatin1Char('w')),
                             QString(950, QLatin1Char('x')), QString(100, QLatin1Char(' ')), "ü", "😀",
                             "\r\n", "\n", "Bcc: x@y", "=?UTF-8?B?", "日本"};
    QRandomGenerator random(20261207);
    for (int round = 0; round < 2000; ++round) {
        QString value;
        for (int n = random.bounded(1, 40); n > 0; --n)
            value += pieces.at(random.bounded(int(pieces.size())));
        QStringList addresses;
        for (int n = random.bounded(0, 80); n > 0; --n)
            addresses << QString(random.bounded(1, 240), QLatin1Char('a')) + QStringLiteral("@b.c");
        const bool list = round % 5 == 0;
        const QString field = list ? addressField(QStringLiteral("To"), addresses)
                                   : headerField(QStringLiteral("Subject"), value);
        QVERIFY(field.endsWith(QStringLiteral("\r\n")));
        const QStringList lines = field.chopped(2).split(QStringLiteral("\r\n"));
        for (qsizetype i = 0; i < lines.size(); ++i) {
            const QString &line = lines.at(i);
            QVERIFY2(line.toUtf8().size() <= 998, qPrintable(value));
            QVERIFY2(!line.contains(QLatin1Char('\r')) && !line.contains(QLatin1Char('\n')), qPrintable(value));
            QVERIFY2(i == 0 || (line.startsWith(QLatin1Char(' ')) && !line.trimmed().isEmpty()), qPrintable(value));
        }
        if (list) {
            QCOMPARE(lines.join(QString()), QStringLiteral("To: ")
                         + (addresses.isEmpty() ? QStringLiteral("undisclosed-recipients:;")
                                                : addresses.join(QStringLiteral(", "))));
            continue;
        }
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

QTEST_GUILESS_MAIN(TestMailFormat)
#include "tst_mailformat.moc"
