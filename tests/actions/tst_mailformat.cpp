// The mail's wire texts without sockets: the mail server field,
// addresses, folding, the message text's line ends and .netrc.
#include "actions/MailFormat.h"

#include <QRandomGenerator>
#include <QTest>

using namespace MailFormat;

class TestMailFormat : public QObject {
    Q_OBJECT
private slots:
    void texts_data();
    void texts();
    void foldedLinesStayWithinLimits();
};

// Each row: a reader, its input and what it read, written as one line ("" for refused).
void TestMailFormat::texts_data()
{
    QTest::addColumn<QString>("reader");
    QTest::addColumn<QString>("input");
    QTest::addColumn<QString>("read");
    int row = 0;
    const auto rows = [&row](const char *reader, const QStringList &inputAndRead) { // input, read, input, read ...
        for (qsizetype i = 0; i + 1 < inputAndRead.size(); i += 2)
            QTest::addRow("%s %d", reader, ++row)
                << QString::fromLatin1(reader) << inputAndRead[i] << inputAndRead[i + 1];
    };
    const auto refused = [&rows](const char *reader, const QStringList &inputs) {
        for (const QString &input : inputs)
            rows(reader, { input, QString() });
    };
    // The mail server field: security user host port.
    rows("server",
        { " mail.example ", "0  mail.example 25", "mail.example:2525", "0  mail.example 2525", "[::1]:26", "0  ::1 26",
            "::1", "0  ::1 25", "smtps://relay.example", "2  relay.example 465", "SMTP://alerts@relay.example:2587/",
            "1 alerts relay.example 2587", "smtp://a%40b@[::1]", "1 a@b ::1 587" });
    refused("server", { "   ", "h:0", "h:70000", "[::1:25", "[::1]x", "smtp://::1", "smtp://@h", "smtps://" });
    // A recipient as sent, "+utf8" when it needs SMTPUTF8.
    rows("address",
        { "ops@bü.c", "ops@xn--b-eha.c", "jörg@b.c", "jörg@b.c+utf8", "ops@[127.0.0.1]", "ops@[127.0.0.1]" });
    refused("address",
        { "", "ops", "@b.c", "ops@", "Cc: evil@test", "a..b@c", ".a@c", "a<b@c", "a@b..c", "a@b c", "a@[999.1.1.1]",
            QString(251, QLatin1Char('a')) + "@b.c" });
    // The recipients text split at commas, entries joined by "|".
    rows("split", { "   ", "", "A,", "A", "A,,B", "A||B", " A , B ,  ", "A|B" });
    // This machine as a mail domain from its host name and local address.
    rows("domain",
        { "probe.example.org 127.0.0.1", "probe.example.org", "vm 192.0.2.7", "[192.0.2.7]", "192.0.2.8 127.0.0.1",
            "[192.0.2.8]", "vm ::ffff:10.0.0.1", "[10.0.0.1]", "vm ::1", "[IPv6:::1]" });
    // The message text written in the pieces split at "|": CR LF line ends, dots doubled.
    rows("wire",
        { "line one\r\n|.hidden\r\n", "line one\r\n..hidden\r\n", "x\r|\n.|\r\nafter", "x\r\n..\r\nafter", "x\r|.y",
            "x\r\n..y", "a\nb\rc\r\r\nd", "a\r\nb\r\nc\r\n\r\nd", "a.|.b", "a..b" });
    // .netrc for relay.example: "user|netrc" in, "login:password" out.
    const QString netrc = "machine other.example login x password y\nmachine Relay.example\n  login alerts\n"
                          "  password \"s e\\\"cret\"\nmachine relay.example login ops password two\n";
    rows("netrc",
        { "|" + netrc, "alerts:s e\"cret", "ops|" + netrc, "ops:two", "nobody|" + netrc, "",
            "|machine a login b password c default login d password e", "d:e" });
}

void TestMailFormat::texts()
{
    QFETCH(QString, reader);
    QFETCH(QString, input);
    const QString first = input.section(QLatin1Char(input.contains('|') ? '|' : ' '), 0, 0);
    QString read;
    if (reader == QLatin1String("server")) {
        if (const auto server = readMailServer(input))
            read
                = QStringLiteral("%1 %2 %3 %4").arg(server->security).arg(server->user, server->host).arg(server->port);
    } else if (reader == QLatin1String("address")) {
        if (const auto address = readAddress(input))
            read = address->text() + (address->needsUtf8() ? QStringLiteral("+utf8") : QString());
    } else if (reader == QLatin1String("split")) {
        read = splitRecipients(input).join(QLatin1Char('|'));
    } else if (reader == QLatin1String("domain")) {
        read = mailDomain(first, input.section(QLatin1Char(' '), 1));
    } else if (reader == QLatin1String("wire")) {
        WireState state;
        for (const QString &piece : input.split(QLatin1Char('|')))
            read += QString::fromUtf8(toWire(piece, state));
    } else if (const auto login
        = netrcLogin(input.section(QLatin1Char('|'), 1), QStringLiteral("relay.example"), first)) {
        read = login->user + QLatin1Char(':') + login->password;
    }
    QTEST(read, "read");
}

// Whatever a device name or recipient list holds: no line over 998 octets (78
// where it is encoded), no continuation line of only blanks, and plain text
// unfolds to what was given with control characters as blanks.
void TestMailFormat::foldedLinesStayWithinLimits()
{
    const QStringList pieces { " ", "  ", "\t", "\t\t ", "word", QString(60, 'w'), QString(950, 'x'), QString(100, ' '),
        "ü", "😀", "\r\n", "\n", "Bcc: x@y", "=?UTF-8?B?", "日本" };
    QRandomGenerator random(20261207);
    for (int round = 0; round < 2000; ++round) {
        QString value, plain;
        for (int n = random.bounded(1, 40); n > 0; --n)
            value += pieces.at(random.bounded(int(pieces.size())));
        QStringList addresses;
        for (int n = random.bounded(0, 80); n > 0; --n)
            addresses << QString(random.bounded(1, 240), QLatin1Char('a')) + QStringLiteral("@b.c");
        const bool list = round % 5 == 0;
        const QString field = list ? addressField("To", addresses) : headerField("Subject", value);
        QVERIFY(field.endsWith(QStringLiteral("\r\n")));
        const QStringList lines = field.chopped(2).split(QStringLiteral("\r\n"));
        for (qsizetype i = 0; i < lines.size(); ++i) {
            QVERIFY2(lines[i].toUtf8().size() <= 998 && !lines[i].contains('\r') && !lines[i].contains('\n'),
                qPrintable(value));
            QVERIFY2(i == 0 || (lines[i].startsWith(' ') && !lines[i].trimmed().isEmpty()), qPrintable(value));
        }
        if (list) {
            QCOMPARE(lines.join(QString()),
                "To: " + (addresses.isEmpty() ? "undisclosed-recipients:;" : addresses.join(", ")));
            continue;
        }
        for (const QChar c : value)
            plain += c.unicode() < 0x20 ? QChar(' ') : c;
        if (std::all_of(plain.cbegin(), plain.cend(), [](QChar c) { return c.unicode() < 0x7f; })
            && !field.contains("?="))
            QCOMPARE(lines.join(QString()), "Subject: " + plain);
        else
            QVERIFY2(std::all_of(lines.cbegin(), lines.cend(), [](const QString &l) { return l.size() <= 78; }),
                qPrintable(value));
    }
}

QTEST_GUILESS_MAIN(TestMailFormat)
#include "tst_mailformat.moc"
