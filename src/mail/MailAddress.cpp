#include "mail/MailAddress.h"

#include "base/TextRules.h"
#include "net/Addresses.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cwctype>
#include <idn2.h>
#include <locale.h>
#include <netinet/in.h>

namespace MailAddress {

namespace {

    constexpr size_t kLongestLocalPart = 64;
    constexpr size_t kLongestAddress = 254;

    bool asciiLetterOrDigit(char c) { return (c >= '0' && c <= '9') || ((c | 0x20) >= 'a' && (c | 0x20) <= 'z'); }

    std::vector<std::string_view> split(std::string_view text, char separator)
    {
        std::vector<std::string_view> parts;
        for (size_t start = 0;;) {
            const size_t end = text.find(separator, start);
            parts.push_back(text.substr(start, end == std::string_view::npos ? end : end - start));
            if (end == std::string_view::npos)
                return parts;
            start = end + 1;
        }
    }

    // Each character of a UTF-8 text; what is no UTF-8 reads as U+FFFD.
    template <typename Test> bool allCharacters(std::string_view text, Test test)
    {
        for (size_t at = 0; at < text.size();) {
            const auto lead = static_cast<unsigned char>(text[at]);
            const size_t length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
            const std::string_view character = text.substr(at, length);
            // A sequence that is no UTF-8 comes back blanked, and so do controls, which pass no test here.
            const bool valid = length == 1 || TextRules::blankControls(character) == character;
            char32_t c = length == 1 ? lead : valid ? lead & (0x7F >> length) : 0xFFFD;
            for (size_t i = 1; i < length && valid; ++i)
                c = c << 6 | (static_cast<unsigned char>(character[i]) & 0x3F);
            if (!test(c))
                return false;
            at += length;
        }
        return true;
    }

    // Unicode's classes beyond ASCII, the same in every locale the program runs in.
    locale_t unicode()
    {
        static const locale_t locale = ::newlocale(LC_CTYPE_MASK, "C.UTF-8", locale_t {});
        return locale;
    }
    bool letterOrNumber(char32_t c)
    {
        return c < 0x80 ? asciiLetterOrDigit(char(c)) : unicode() && c != 0xFFFD && ::iswalnum_l(wint_t(c), unicode());
    }

    // atext, and beyond ASCII any printable character that is no blank (RFC 6531).
    bool atext(char32_t c)
    {
        if (c < 0x80)
            return asciiLetterOrDigit(char(c))
                || std::string_view("!#$%&'*+-/=?^_`{|}~").find(char(c)) != std::string_view::npos;
        return unicode() && c != 0xFFFD && ::iswprint_l(wint_t(c), unicode()) && !::iswspace_l(wint_t(c), unicode());
    }

    // Dot-string: atoms of atext with single dots between them.
    bool isDotString(std::string_view local)
    {
        return !local.empty() && local.front() != '.' && local.back() != '.'
            && local.find("..") == std::string_view::npos
            && allCharacters(local, [](char32_t c) { return c == '.' || atext(c); });
    }

    // The 16-bit groups on one side of "::", an IPv4 tail counting two where
    // allowed; -1 when a group is no 1 to 4 hexadecimal digits.
    int ipv6Groups(std::string_view side, bool ipv4Tail)
    {
        if (side.empty())
            return 0;
        const auto groups = split(side, ':');
        int count = 0;
        for (size_t i = 0; i < groups.size(); ++i) {
            const std::string_view group = groups[i];
            if (ipv4Tail && i == groups.size() - 1 && group.find('.') != std::string_view::npos) {
                if (!Addresses::dottedQuad(group))
                    return -1;
                count += 2;
            } else if (!group.empty() && group.size() <= 4
                && std::all_of(group.begin(), group.end(), [](char c) { return std::isxdigit(uint8_t(c)); })) {
                ++count;
            } else {
                return -1;
            }
        }
        return count;
    }

    bool startsWithTag(std::string_view text)
    {
        return text.size() >= 5 && ::strncasecmp(text.data(), "IPv6:", 5) == 0;
    }

    // "[IPv4]" or "[IPv6:...]"; the tag is needed, as RFC 5321 writes it.
    bool isAddressLiteral(std::string_view text)
    {
        if (text.size() < 2 || text.front() != '[' || text.back() != ']')
            return false;
        const std::string_view inside = text.substr(1, text.size() - 2);
        return startsWithTag(inside) ? isIpv6(inside.substr(5)) : bool(Addresses::dottedQuad(inside));
    }

    std::string firstLineTrimmed(std::string_view text)
    {
        text = text.substr(0, text.find('\n'));
        const size_t start = text.find_first_not_of(" \t\r\f\v");
        return start == std::string_view::npos
            ? ""
            : std::string(text.substr(start, text.find_last_not_of(" \t\r\f\v") + 1 - start));
    }

} // namespace

bool isHostName(std::string_view name)
{
    if (name.empty() || name.size() > 255)
        return false;
    const auto labels = split(name, '.');
    const auto allDigits = [](std::string_view label) {
        return std::all_of(label.begin(), label.end(), [](char c) { return c >= '0' && c <= '9'; });
    };
    return !allDigits(labels.back()) && std::all_of(labels.begin(), labels.end(), [](std::string_view label) {
        return !label.empty() && label.size() <= 63 && asciiLetterOrDigit(label.front())
            && asciiLetterOrDigit(label.back())
            && std::all_of(label.begin(), label.end(), [](char c) { return asciiLetterOrDigit(c) || c == '-'; });
    });
}

bool isFullName(std::string_view name) { return isHostName(name) && name.find('.') != std::string_view::npos; }

std::string aceDomain(std::string_view text)
{
    // Only letters, digits, hyphens and dots go to IDNA; what comes back is checked again.
    if (text.empty() || !allCharacters(text, [](char32_t c) { return letterOrNumber(c) || c == '-' || c == '.'; }))
        return {};
    char *ace = nullptr;
    const std::string input(text);
    if (::idn2_to_ascii_8z(input.c_str(), &ace, IDN2_NFC_INPUT | IDN2_NONTRANSITIONAL) != IDN2_OK)
        return {};
    const std::string domain = ace;
    ::idn2_free(ace);
    return isHostName(domain) ? domain : std::string();
}

bool isIpv6(std::string_view text)
{
    const size_t gap = text.find("::");
    if (gap == std::string_view::npos)
        return ipv6Groups(text, true) == 8;
    const int before = ipv6Groups(text.substr(0, gap), false);
    const int after = ipv6Groups(text.substr(gap + 2), true);
    return before >= 0 && after >= 0 && before + after <= 6;
}

std::string addressLiteral(const Address &address)
{
    char text[INET6_ADDRSTRLEN] = {};
    if (address.family() == AF_INET6) {
        const in6_addr &v6 = reinterpret_cast<const sockaddr_in6 &>(address.storage).sin6_addr;
        if (!IN6_IS_ADDR_V4MAPPED(&v6))
            return std::string("[IPv6:") + ::inet_ntop(AF_INET6, &v6, text, sizeof text) + ']';
        return std::string("[") + ::inet_ntop(AF_INET, &v6.s6_addr[12], text, sizeof text) + ']';
    }
    const in_addr &v4 = reinterpret_cast<const sockaddr_in &>(address.storage).sin_addr;
    return std::string("[") + (address.family() == AF_INET ? ::inet_ntop(AF_INET, &v4, text, sizeof text) : "") + ']';
}

bool Mailbox::needsUtf8() const
{
    return std::any_of(local.begin(), local.end(), [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
}

std::optional<Mailbox> readMailbox(std::string_view entry)
{
    const size_t at = entry.rfind('@');
    if (at == std::string_view::npos || at == 0)
        return std::nullopt;
    Mailbox mailbox { std::string(entry.substr(0, at)), std::string(entry.substr(at + 1)) };
    if (!isDotString(mailbox.local) || mailbox.local.size() > kLongestLocalPart)
        return std::nullopt;
    if (!isAddressLiteral(mailbox.domain))
        mailbox.domain = aceDomain(mailbox.domain);
    else if (startsWithTag(mailbox.domain.substr(1)))
        mailbox.domain.replace(1, 5, "IPv6:"); // the tag as servers expect it
    if (mailbox.domain.empty() || mailbox.text().size() > kLongestAddress)
        return std::nullopt;
    return mailbox;
}

std::vector<std::string> splitRecipients(std::string_view recipients)
{
    std::vector<std::string> list;
    const auto parts = split(recipients, ',');
    for (size_t i = 0; i < parts.size(); ++i) {
        // Blanks after the last comma add no entry.
        if (i == parts.size() - 1 && i > 0 && TextRules::isBlank(parts[i]))
            break;
        list.emplace_back(TextRules::trimSpaces(parts[i]));
    }
    return list;
}

std::string mailDomain(const std::string &hostName, const std::string &localAddress)
{
    if (const auto numeric = Addresses::literal(hostName))
        return addressLiteral(*numeric);
    if (isFullName(hostName))
        return hostName;
    return addressLiteral(Addresses::literal(localAddress).value_or(Address {}));
}

std::string defaultSender(
    const std::string &login, const std::string &mailName, const std::string &hostName, const std::string &localAddress)
{
    std::vector<std::string> candidates { login };
    const std::string mailDomainName = firstLineTrimmed(mailName);
    if (isFullName(mailDomainName))
        candidates.push_back("ostrel@" + mailDomainName);
    // The host's name, full or, where there is no domain at all, bare.
    if (isHostName(hostName))
        candidates.push_back("ostrel@" + hostName);
    // A name too long for an address (254 octets) gives way to the next, and last to the address literal.
    candidates.push_back("ostrel@" + addressLiteral(Addresses::literal(localAddress).value_or(Address {})));
    for (const std::string &candidate : candidates) {
        if (const auto mailbox = readMailbox(candidate))
            return mailbox->text();
    }
    return candidates.back();
}

} // namespace MailAddress
