#include "mail/MailMessageControl.h"

#include "mail/HeaderFields.h"
#include "mail/MailAddress.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <random>
#include <vector>

namespace {

const std::string kCrLf = "\r\n";
// Lines of at most 76 characters for encoded text; a body line of plain
// text may reach the hard limit of 998.
constexpr size_t kEncodedLineLength = 76;
constexpr size_t kLongestLine = 998;

std::vector<std::string> bodyLines(const std::string &text)
{
    std::vector<std::string> lines(1);
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' || text[i] == '\n') {
            i += text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n';
            lines.emplace_back();
        } else {
            lines.back() += text[i];
        }
    }
    // A text that ends in a line break gets no empty line added.
    if (lines.size() > 1 && lines.back().empty())
        lines.pop_back();
    return lines;
}

// Quoted-printable (RFC 2045) of one line, soft breaks keeping every line within 76.
std::string quotedPrintableLine(const std::string &line)
{
    std::string out;
    size_t column = 0;
    for (size_t i = 0; i < line.size(); ++i) {
        const auto byte = static_cast<unsigned char>(line[i]);
        const bool last = i == line.size() - 1;
        const bool literal = (byte >= 33 && byte <= 126 && byte != '=') || ((byte == ' ' || byte == '\t') && !last);
        char token[4] = { char(byte), 0 };
        if (!literal)
            std::snprintf(token, sizeof token, "=%02X", byte);
        const size_t length = literal ? 1 : 3;
        // Room for the "=" of a soft break unless this is the line's last token.
        if (column + length > (last ? kEncodedLineLength : kEncodedLineLength - 1)) {
            out += '=' + kCrLf;
            column = 0;
        }
        out += token;
        column += length;
    }
    return out;
}

// "Mon, 07 Dec 2026 11:29:41 +0100" in English whatever the locale.
std::string rfc2822Date()
{
    static const char *const kDays[] = { "Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat" };
    static const char *const kMonths[]
        = { "Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec" };
    const std::time_t now = std::time(nullptr);
    std::tm local {};
    ::localtime_r(&now, &local);
    const int offset = static_cast<int>(local.tm_gmtoff / 60);
    char text[64];
    std::snprintf(text, sizeof text, "%s, %02d %s %d %02d:%02d:%02d %c%02d%02d", kDays[local.tm_wday], local.tm_mday,
        kMonths[local.tm_mon], local.tm_year + 1900, local.tm_hour, local.tm_min, local.tm_sec, offset < 0 ? '-' : '+',
        std::abs(offset) / 60, std::abs(offset) % 60);
    return text;
}

// 128 random bits as 32 hexadecimal digits.
std::string uniquePart()
{
    std::random_device random;
    char text[33] = {};
    for (int i = 0; i < 4; ++i)
        std::snprintf(text + 8 * i, 9, "%08x", random());
    return text;
}

} // namespace

void MailMessageControl::SetTo(const std::string &recipients) { m_to = recipients; }

void MailMessageControl::SetFrom(const std::string &sender) { m_from = sender; }

void MailMessageControl::SetSenderAddress(const std::string &address, bool utf8Headers)
{
    m_senderAddress = address;
    m_utf8Headers = utf8Headers;
}

void MailMessageControl::SetSubject(const std::string &subject) { m_subject = subject; }

void MailMessageControl::SetText(const std::string &text) { m_text = text; }

std::string MailMessageControl::Export() const
{
    // Only addresses go into To; one that needs SMTPUTF8 only where the server takes it.
    std::vector<std::string> to;
    for (const std::string &entry : MailAddress::splitRecipients(m_to)) {
        const auto mailbox = MailAddress::readMailbox(entry);
        if (mailbox && (m_utf8Headers || !mailbox->needsUtf8()))
            to.push_back(mailbox->text());
    }
    const size_t at = m_senderAddress.rfind('@');
    const std::string domain = at != std::string::npos ? m_senderAddress.substr(at + 1) : "localhost";
    std::string message = HeaderFields::field("Date", rfc2822Date())
        + "From: " + HeaderFields::namedAddress(m_from, m_senderAddress) + kCrLf + HeaderFields::addressField("To", to)
        + HeaderFields::field("Subject", m_subject) + "Message-ID: <" + uniquePart() + '@' + domain + '>' + kCrLf
        + "MIME-Version: 1.0" + kCrLf;

    // Plain 7-bit text when every line allows it, quoted-printable otherwise.
    const std::vector<std::string> lines = bodyLines(m_text);
    const bool plain = std::all_of(lines.begin(), lines.end(), [](const std::string &line) {
        return line.size() <= kLongestLine
            && std::all_of(line.begin(), line.end(), [](char c) { return (c >= 0x20 && c < 0x7f) || c == '\t'; });
    });
    message += "Content-Type: text/plain; charset=UTF-8" + kCrLf
        + "Content-Transfer-Encoding: " + (plain ? "7bit" : "quoted-printable") + kCrLf + kCrLf;
    for (const std::string &line : lines)
        message += (plain ? line : quotedPrintableLine(line)) + kCrLf;
    return message;
}
