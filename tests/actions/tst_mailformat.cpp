// The mail's wire texts without sockets: the mail server field, addresses,
// this host as a domain and as a sender, the message text's line ends and .netrc.
#include "actions/MailFormat.h"

#include <QTest>

using namespace MailFormat;

class TestMailFormat : public QObject {
    Q_OBJECT
private slots:
    void texts_data();
    void texts();
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
        { " mail.example ", "0  mail.example 25", "bü.example:2525", "0  xn--b-eha.example 2525", "[::1]:26",
            "0  ::1 26", "::1", "0  ::1 25", "010.0.0.1", "0  10.0.0.1 25", "smtps://relay.example",
            "2  relay.example 465", "SMTP://alerts@relay.example:2587/", "1 alerts relay.example 2587",
            "smtp://a%40b@[::1]", "1 a@b ::1 587" });
    refused("server",
        { "   ", "h:0", "h:70000", "[::1:25", "[::1]x", "smtp://::1", "smtp://@h", "smtps://", "relay\n", "re lay",
            "smtp://a%0D%0Ab@h", "[::1%lo]:25", "h_x:25", "999.1.1.1" });
    // A recipient as sent, "+utf8" when it needs SMTPUTF8.
    rows("address",
        { "ops@bü.c", "ops@xn--b-eha.c", "jörg@b.c", "jörg@b.c+utf8", "ops@[127.0.0.1]", "ops@[127.0.0.1]",
            "ostrel@[IPv6:2001:db8::5]", "ostrel@[IPv6:2001:db8::5]" });
    refused("address",
        { "", "ops", "@b.c", "ops@", "Cc: evil@test", "a..b@c", ".a@c", "a<b@c", "a@b..c", "a@b c", "a@b.", "a@-b.c",
            "a@[999.1.1.1]", "x@[\r\n::1]", "x@[::1%\r\nX-Injected: yes]", "x@[::1%\r\n\r\nbody]", "x@[::1%>]",
            "x@[::1]", "a\u0085b@c", "a\u2028b@c", QString(65, QLatin1Char('a')) + "@b.c" });
    // The recipients text split at commas, entries joined by "|".
    rows("split", { "A,,B", "A||B", " A , B ,  ", "A|B" });
    // This machine as a mail domain from its host name and local address.
    rows("domain",
        { "probe.example.org 127.0.0.1", "probe.example.org", "vm 192.0.2.7", "[192.0.2.7]", "vm ::ffff:10.0.0.1",
            "[10.0.0.1]", "vm ::1", "[IPv6:::1]", "probe.example.org\n 127.0.0.1", "[127.0.0.1]" });
    // The sender from login|mail name|host name|local address.
    rows("sender",
        { "alerts@corp.example|mail.example|vm|::1", "alerts@corp.example", "alerts|mail.example\n|vm|::1",
            "ostrel@mail.example", "|vm\n|probe.example.org|::1", "ostrel@probe.example.org", "||vm|::1", "ostrel@vm",
            "||my_host|::1", "ostrel@[IPv6:::1]" });
    // The message text written in the pieces split at "|": CR LF line ends, dots doubled.
    rows("wire",
        { "line one\r\n|.hidden\r\n", "line one\r\n..hidden\r\n", "x\r|\n.|\r\nafter", "x\r\n..\r\nafter",
            "a\nb\rc\r\r\nd", "a\r\nb\r\nc\r\n\r\nd" });
    // .netrc for relay.example: "user|netrc" in, "login:password" out.
    const QString netrc = "machine other.example login x password y\nmachine Relay.example\n  login alerts\n"
                          "  password \"s e\\\"cret\"\nmachine relay.example login ops password two\n";
    rows("netrc",
        { "|" + netrc, "alerts:s e\"cret", "ops|" + netrc, "ops:two", "nobody|" + netrc, "",
            "|machine a login b password c default login d password e", "d:e",
            "|machine relay.example #office\nmachine other.example # SMTP relay\n  login alerts password s\n", "",
            "|machine other.example #office\nmachine relay.example # SMTP relay\n  login alerts password s\n",
            "alerts:s", "|default login a\ndefault login b password c\n", "",
            "|machine relay.example password\nmachine x login l password p\n", "",
            "|macdef m\nmachine relay.example login evil password e\n\nmachine relay.example login ok password k",
            "ok:k", "|machine relay.example login a password \"b", "" });
}

void TestMailFormat::texts()
{
    QFETCH(QString, reader);
    QFETCH(QString, input);
    const QStringList parts = input.split(QLatin1Char(input.contains('|') ? '|' : ' '));
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
        read = mailDomain(parts.at(0), parts.at(1));
    } else if (reader == QLatin1String("sender")) {
        read = defaultSender(parts.at(0), parts.at(1), parts.at(2), parts.at(3));
    } else if (reader == QLatin1String("wire")) {
        WireState state;
        for (const QString &piece : parts)
            read += QString::fromUtf8(toWire(piece, state));
    } else if (const auto login = netrcLogin(input.section('|', 1), QStringLiteral("relay.example"), parts.at(0))) {
        read = login->user + QLatin1Char(':') + login->password;
    }
    QTEST(read, "read");
}

QTEST_GUILESS_MAIN(TestMailFormat)
#include "tst_mailformat.moc"
