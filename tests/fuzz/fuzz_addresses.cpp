// What users type: numbers and blanks (common/TextRules), and the mail's recipients, server
// field and sender. Whatever is typed, an address accepted stays within RFC 5321's syntax,
// so nothing outside it reaches the wire; the program's own sender is always accepted.
#include "Fuzz.h"
#include "actions/MailFormat.h"
#include "common/TextRules.h"

#include <QRegularExpression>
#include <arpa/inet.h>

namespace {

// RFC 5321's Mailbox written out on its own: a dot-string (a character beyond ASCII stands
// for one SMTPUTF8 allows) at sub-domains of letters, digits and inner hyphens, or at an
// IPv4 or tagged IPv6 address literal. No control character, no blank.
bool isMailbox(const QString &address)
{
    const std::string bytes = address.toStdString();
    QString ascii = address;
    for (QChar &c : ascii)
        c = c.unicode() >= 0x80 ? QChar('u') : c;
    static const QRegularExpression mailbox(QStringLiteral(
        "\\A[\\w!#$%&'*+/=?^`{|}~-]+(\\.[\\w!#$%&'*+/=?^`{|}~-]+)*@([A-Za-z0-9]([A-Za-z0-9-]*[A-Za-z0-9])?"
        "(\\.[A-Za-z0-9]([A-Za-z0-9-]*[A-Za-z0-9])?)*|\\[(IPv6:)?([0-9A-Fa-f:.]+)\\])\\z"));
    const auto match = mailbox.match(ascii);
    if (TextRules::blankControls(bytes) != bytes || !match.hasMatch())
        return false;
    const std::string literal = match.captured(7).toStdString();
    unsigned char v6[16];
    unsigned part[4];
    char end;
    return literal.empty()
        || (match.hasCaptured(6)
                ? inet_pton(AF_INET6, literal.c_str(), v6) == 1
                : std::sscanf(literal.c_str(), "%3u.%3u.%3u.%3u%c", part, part + 1, part + 2, part + 3, &end) == 4
                    && std::max({ part[0], part[1], part[2], part[3] }) <= 255);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string_view text(reinterpret_cast<const char *>(data), size);
    const std::string_view trimmed = TextRules::trimSpaces(text);
    FUZZ_CHECK(TextRules::trimSpaces(trimmed) == trimmed && TextRules::isBlank(text) == trimmed.empty());
    FUZZ_CHECK(!TextRules::toNumber(text) || TextRules::isNumeric(text));
    if (const auto port = TextRules::toPortNumber(text))
        FUZZ_CHECK(std::abs(*TextRules::toNumber(text) - *port) <= 0.5);
    const std::string line = TextRules::blankControls(text);
    const std::string_view cut = TextRules::cutAtCharacter(line, size % 64);
    FUZZ_CHECK(
        TextRules::blankControls(line) == line && TextRules::blankControls(cut) == cut && cut.size() <= size % 64);

    const QString entry = QString::fromUtf8(text.data(), qsizetype(size));
    if (const auto address = MailFormat::readAddress(entry)) {
        const auto again = MailFormat::readAddress(address->text());
        FUZZ_CHECK(isMailbox(address->text()) && again && again->text() == address->text());
    }
    for (const QString &recipient : MailFormat::splitRecipients(entry))
        FUZZ_CHECK(!recipient.contains(',') && !recipient.startsWith(' ') && !recipient.endsWith(' '));
    if (const auto server = MailFormat::readMailServer(entry)) {
        const std::string host = server->host.toStdString(), user = server->user.toStdString();
        unsigned char address[16];
        FUZZ_CHECK(inet_pton(AF_INET, host.c_str(), address) == 1 || inet_pton(AF_INET6, host.c_str(), address) == 1
            || isMailbox("x@" + server->host));
        FUZZ_CHECK(server->port != 0 && TextRules::blankControls(user) == user);
    }
    // This host named anyhow: EHLO's domain and the sender stay within the syntax and are read back.
    FUZZ_CHECK(isMailbox("ostrel@" + MailFormat::mailDomain(entry, "192.0.2.7")));
    const QString sender = MailFormat::defaultSender(entry, entry, entry, "2001:db8::5");
    FUZZ_CHECK(isMailbox(sender) && MailFormat::readAddress(sender));
    return 0;
}
