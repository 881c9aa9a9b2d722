// What holds whatever users type or peers send, and whatever the mail puts on the wire (the first byte chooses).
#include "Fuzz.h"
#include "base/ReplyReader.h"
#include "base/TextRules.h"
#include "mail/HeaderFields.h"
#include "mail/MailAddress.h"
#include "mail/MailMessageControl.h"
#include "mail/MailServer.h"
#include "mail/Netrc.h"

#include <algorithm>
#include <arpa/inet.h>
#include <regex>
#include <strings.h>

namespace {

// RFC 5321's Mailbox: a dot-string (beyond ASCII as SMTPUTF8 allows) at sub-domains of letters, digits and hyphens
// up to 63 long, or at four numbers up to 255 or "IPv6:" and what inet_pton reads, in brackets. No control, no blank.
bool isMailbox(const std::string &address)
{
    std::string ascii = address;
    std::replace_if(
        ascii.begin(), ascii.end(), [](char c) { return static_cast<unsigned char>(c) >= 0x80; }, 'u');
    const std::string number = "(0{0,2}\\d|0?[1-9]\\d|1\\d\\d|2[0-4]\\d|25[0-5])";
    static const std::regex mailbox(
        "[\\w!#$%&'*+/=?^`{|}~-]+(\\.[\\w!#$%&'*+/=?^`{|}~-]+)*@([A-Za-z0-9]([A-Za-z0-9-]{0,61}"
        "[A-Za-z0-9])?(\\.[A-Za-z0-9]([A-Za-z0-9-]{0,61}[A-Za-z0-9])?)*|\\[("
        + number + "\\.){3}" + number + "\\]|\\[IPv6:([0-9A-Fa-f:.]+)\\])");
    std::smatch match;
    unsigned char binary[16];
    return TextRules::blankControls(address) == address && std::regex_match(ascii, match, mailbox)
        && (!match[9].matched || inet_pton(AF_INET6, match[9].str().c_str(), binary) == 1);
}

// The lines of CR LF text (the last ending in CR LF), each within 998 octets and holding no other CR or LF.
std::vector<std::string> lines(const std::string &text)
{
    FUZZ_CHECK(text.size() >= 2 && text.compare(text.size() - 2, 2, "\r\n") == 0);
    std::vector<std::string> lines;
    for (size_t start = 0; start < text.size();) {
        const size_t end = text.find("\r\n", start);
        lines.push_back(text.substr(start, end - start));
        FUZZ_CHECK(lines.back().size() <= 998 && lines.back().find_first_of("\r\n") == std::string::npos);
        start = end + 2;
    }
    return lines;
}

// A field's lines, each after the first folded before a word; joined as a reader unfolds them.
std::string unfolded(const std::string &field)
{
    std::string joined;
    for (const std::string &line : lines(field)) {
        FUZZ_CHECK(joined.empty() || (line[0] == ' ' && line.find_first_not_of(' ') != std::string::npos));
        joined += line;
    }
    return joined;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return -1;
    const std::string text(reinterpret_cast<const char *>(data) + 1, size - 1);
    switch (data[0] % 5) {
    case 0: { // replies as read, and any text as shown on one line: no control character, no run of blanks
        ReplyReader reader;
        reader.add(text);
        std::vector<std::string> replies { text };
        for (ReplyReader::Reply reply; reader.next(reply) == ReplyReader::State::Complete;)
            replies.push_back(reply.text);
        for (const std::string &shown : replies)
            FUZZ_CHECK(HeaderFields::oneLine(shown) == TextRules::blankControls(HeaderFields::oneLine(shown))
                && HeaderFields::oneLine(shown).find("  ") == std::string::npos);
        break;
    }
    case 1: { // typed: a number read is numeric; an address, a server or this host's domain or sender accepted
        // stays within RFC 5321's syntax, and our own reader takes the program's sender
        FUZZ_CHECK(!TextRules::toNumber(text) || TextRules::isNumeric(text));
        if (const auto mailbox = MailAddress::readMailbox(text))
            FUZZ_CHECK(isMailbox(mailbox->text()));
        if (const auto server = MailServer::read(text)) {
            FUZZ_CHECK(server->port != 0 && TextRules::blankControls(server->user) == server->user);
            FUZZ_CHECK(isMailbox("x@" + server->host) || isMailbox("x@[" + server->host + "]")
                || isMailbox("x@[IPv6:" + server->host + "]"));
        }
        const std::string sender = MailAddress::defaultSender(text, text, text, "2001:db8::5");
        FUZZ_CHECK(isMailbox(sender) && MailAddress::readMailbox(sender)
            && isMailbox("ostrel@" + MailAddress::mailDomain(text, "192.0.2.7")));
        break;
    }
    case 2: { // a header field, a display name, a To list: folded lines; a plain text and a To list unfold as given
        const std::string folded = HeaderFields::field("Subject", text), subject = unfolded(folded);
        FUZZ_CHECK(subject.find("=?") != std::string::npos || subject == "Subject: " + TextRules::blankControls(text));
        unfolded("From: " + HeaderFields::namedAddress(text, "ostrel@vm") + "\r\n");
        std::vector<std::string> to;
        std::string joined;
        for (const std::string &entry : MailAddress::splitRecipients(text)) {
            if (const auto mailbox = MailAddress::readMailbox(entry))
                to.push_back(mailbox->text()), joined += (joined.empty() ? "" : ", ") + to.back();
        }
        const std::string field = HeaderFields::addressField("To", to);
        FUZZ_CHECK(unfolded(field) == "To: " + (to.empty() ? "undisclosed-recipients:;" : joined));
        // Folded at 78, unless one address or word is longer (a subject's runs of blanks stay, and fold nowhere).
        for (const std::string &line : lines(field + (folded.find("  ") == std::string::npos ? folded : "")))
            FUZZ_CHECK(line.size() <= 78 || std::count(line.begin(), line.end(), ' ') <= 1);
        break;
    }
    case 3: { // the whole message, whatever its parts hold: lines of CR LF within 998 octets, and a header of our
        // eight fields in their order and their folded lines alone, ended by an empty line before the text
        MailMessageControl message;
        message.SetTo(text);
        message.SetFrom(text);
        message.SetSenderAddress("ostrel@vm", data[0] % 2);
        message.SetSubject(text);
        message.SetText(text);
        const std::vector<std::string> all = lines(message.Export());
        const auto end = std::find(all.begin(), all.end(), "");
        std::string names;
        for (auto line = all.begin(); line != end; ++line)
            names += line->front() == ' ' ? "" : line->substr(0, line->find(':')) + ' ';
        FUZZ_CHECK(end + 1 < all.end()
            && names == "Date From To Subject Message-ID MIME-Version Content-Type Content-Transfer-Encoding ");
        // 7-bit throughout, unless the server takes UTF-8 in addresses.
        FUZZ_CHECK(data[0] % 2 || std::all_of(all.begin(), all.end(), [](const std::string &line) {
            return std::all_of(line.begin(), line.end(), [](char c) { return c > 0; });
        }));
        break;
    }
    default: { // .netrc after the machine asked for: an unrelated entry before or after changes nothing
        const std::string host = text.substr(0, text.find('\n'));
        const std::string netrc = text.find('\n') == std::string::npos ? "" : text.substr(text.find('\n') + 1);
        const std::string other = "machine ostrel-other.invalid login u password p\n";
        const auto login = [&host](const std::string &netrc) {
            const auto login = Netrc::login(netrc, host, {});
            return login ? login->user + '\n' + login->password : std::string("none");
        };
        if (!host.empty() && strcasecmp(host.c_str(), "ostrel-other.invalid") != 0)
            FUZZ_CHECK(login(other + netrc) == login(netrc) && login(netrc + '\n' + other) == login(netrc));
    }
    }
    return 0;
}
