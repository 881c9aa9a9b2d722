// What holds whatever users type or peers send, and whatever the mail puts on the wire (the first byte chooses).
#include "Fuzz.h"
#include "base/ReplyReader.h"
#include "base/TextRules.h"
#include "mail/MailFormat.h"

#include <QRegularExpression>
#include <arpa/inet.h>

namespace {

// RFC 5321's Mailbox on its own: a dot-string (beyond ASCII as SMTPUTF8 allows) at letter-digit-hyphen sub-domains,
// or at four numbers up to 255 or "IPv6:" and what inet_pton reads, in brackets. No control character, no blank.
bool isMailbox(QString address)
{
    const std::string bytes = address.toStdString();
    for (QChar &c : address)
        c = c.unicode() >= 0x80 ? QChar('u') : c;
    const QString number = QStringLiteral("(0{0,2}\\d|0?[1-9]\\d|1\\d\\d|2[0-4]\\d|25[0-5])");
    static const QRegularExpression mailbox(
        "\\A[\\w!#$%&'*+/=?^`{|}~-]+(\\.[\\w!#$%&'*+/=?^`{|}~-]+)*@([A-Za-z0-9]([A-Za-z0-9-]*[A-Za-z0-9])?"
        "(\\.[A-Za-z0-9]([A-Za-z0-9-]*[A-Za-z0-9])?)*|\\[("
        + number + "\\.){3}" + number + "\\]|\\[IPv6:(?<v6>[0-9A-Fa-f:.]+)\\])\\z");
    const auto match = mailbox.match(address);
    unsigned char binary[16];
    return TextRules::blankControls(bytes) == bytes && match.hasMatch()
        && (!match.hasCaptured("v6") || inet_pton(AF_INET6, match.captured("v6").toLatin1().constData(), binary) == 1);
}

// A field's lines, within 998 octets, each after the first folded before a word; joined as a reader unfolds them.
QString unfolded(const QString &field)
{
    FUZZ_CHECK(field.endsWith(QLatin1String("\r\n")));
    const QStringList lines = field.chopped(2).split(QLatin1String("\r\n"));
    for (qsizetype i = 0; i < lines.size(); ++i)
        FUZZ_CHECK(lines[i].toUtf8().size() <= 998 && !lines[i].contains('\r') && !lines[i].contains('\n')
            && (i == 0 || (lines[i].startsWith(' ') && !lines[i].trimmed().isEmpty())));
    return lines.join(QString());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return -1;
    const std::string_view bytes(reinterpret_cast<const char *>(data) + 1, size - 1);
    const QString text = QString::fromUtf8(bytes.data(), qsizetype(bytes.size()));
    switch (data[0] % 5) {
    case 0: { // replies as read and shown: one line of whole characters, 300 bytes at most
        ReplyReader reader(data[0] % 2 ? ReplyReader::Protocol::Ftp : ReplyReader::Protocol::Smtp);
        reader.add(bytes);
        QList<MailFormat::Reply> replies { { 550, text } };
        for (ReplyReader::Reply reply; reader.next(reply) == ReplyReader::State::Complete;)
            replies << MailFormat::Reply { reply.code, QString::fromStdString(reply.text) };
        for (const MailFormat::Reply &reply : replies) {
            const QString shown = reply.summary();
            const std::string line = shown.toStdString(); // a lone surrogate does not come back
            FUZZ_CHECK(
                line.size() <= 300 && TextRules::blankControls(line) == line && QString::fromStdString(line) == shown);
        }
        break;
    }
    case 1: { // typed: a number read is numeric; an address, a server or this host's domain or sender accepted
        // stays within RFC 5321's syntax, and our own reader takes the program's sender
        FUZZ_CHECK(!TextRules::toNumber(bytes) || TextRules::isNumeric(bytes));
        if (const auto address = MailFormat::readAddress(text))
            FUZZ_CHECK(isMailbox(address->text()));
        if (const auto server = MailFormat::readMailServer(text)) {
            const std::string user = server->user.toStdString();
            FUZZ_CHECK(server->port != 0 && TextRules::blankControls(user) == user);
            FUZZ_CHECK(isMailbox("x@" + server->host) || isMailbox("x@[" + server->host + "]")
                || isMailbox("x@[IPv6:" + server->host + "]"));
        }
        const QString sender = MailFormat::defaultSender(text, text, text, "2001:db8::5");
        FUZZ_CHECK(isMailbox(sender) && MailFormat::readAddress(sender)
            && isMailbox("ostrel@" + MailFormat::mailDomain(text, "192.0.2.7")));
        break;
    }
    case 2: { // a header field, a display name, a To list: folded lines; a plain text and a To list unfold as given
        const QString subject = unfolded(MailFormat::headerField(QStringLiteral("Subject"), text));
        FUZZ_CHECK(subject.contains(QLatin1String("=?"))
            || subject == "Subject: " + QString::fromStdString(TextRules::blankControls(bytes)));
        unfolded("From: " + MailFormat::mailbox(text, QStringLiteral("ostrel@vm")) + "\r\n");
        QStringList to;
        for (const QString &entry : MailFormat::splitRecipients(text)) {
            if (const auto address = MailFormat::readAddress(entry))
                to << address->text();
        }
        FUZZ_CHECK(unfolded(MailFormat::addressField(QStringLiteral("To"), to))
            == "To: " + (to.isEmpty() ? QStringLiteral("undisclosed-recipients:;") : to.join(", ")));
        break;
    }
    case 3: { // the message text: CR LF lines with a leading dot doubled
        MailFormat::WireState state;
        QStringList lines = text.split(QRegularExpression(QStringLiteral("\r\n|\r|\n")));
        lines.replaceInStrings(QRegularExpression(QStringLiteral("^\\.")), QStringLiteral(".."));
        FUZZ_CHECK(QString::fromUtf8(MailFormat::toWire(text, state)) == lines.join(QLatin1String("\r\n")));
        break;
    }
    default: { // .netrc after the machine asked for: an unrelated entry before or after changes nothing
        const QString host = text.section('\n', 0, 0), netrc = text.section('\n', 1);
        const QString other = QStringLiteral("machine ostrel-other.invalid login u password p\n");
        const auto login = [&host](const QString &netrc) {
            const auto login = MailFormat::netrcLogin(netrc, host, {});
            return login ? login->user + '\n' + login->password : QStringLiteral("none");
        };
        if (!host.isEmpty() && host.compare(QLatin1String("ostrel-other.invalid"), Qt::CaseInsensitive) != 0)
            FUZZ_CHECK(login(other + netrc) == login(netrc) && login(netrc + '\n' + other) == login(netrc));
    }
    }
    return 0;
}
