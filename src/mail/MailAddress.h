#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct Address;

// Addresses as the mail puts them on the wire (RFC 5321), texts in UTF-8:
// the recipients, domains, this machine as a mail domain and the default
// sender. Nothing accepted here holds a control character, a blank or
// anything outside RFC 5321's syntax.
namespace MailAddress {

// Sub-domains of letters, digits and inner hyphens joined by dots, the last
// not all digits; a full name has at least one dot.
bool isHostName(std::string_view name);
bool isFullName(std::string_view name);
// A domain as it goes out: its ASCII (IDNA) form; "" when it is none.
std::string aceDomain(std::string_view text);
// IPv6-addr of RFC 5321: eight groups, or at most six beside "::"; no zone.
bool isIpv6(std::string_view text);
// "[192.0.2.7]" or "[IPv6:2001:db8::5]", zone and IPv4 mapping dropped.
std::string addressLiteral(const Address &address);

// One entry as a mailbox: a dot-string local part (beyond ASCII for
// SMTPUTF8) at a domain in its ASCII form or an address literal
// ("[192.0.2.7]", "[IPv6:2001:db8::5]"). Nothing when the entry is none.
struct Mailbox {
    std::string local;
    std::string domain;
    bool needsUtf8() const;
    std::string text() const { return local + '@' + domain; }
};
std::optional<Mailbox> readMailbox(std::string_view entry);

// The recipients text split at every ",", entries trimmed: "A,,B" keeps the
// empty entry, "A," gives A alone, blanks alone give one empty entry.
std::vector<std::string> splitRecipients(std::string_view recipients);

// This machine as a mail domain (EHLO): its host name when that is a full
// one, else the address literal of `localAddress` ("[192.0.2.7]").
std::string mailDomain(const std::string &hostName, const std::string &localAddress);

// The sender when the user sets none: the login when it is an address, else
// ostrel@ the mail name (/etc/mailname) when that is a full domain, else
// ostrel@ the host's full name, else ostrel@ the bare host name, which stock
// exim and postfix take where exim refuses an address literal; the literal
// only when no name makes an address (none, or over 254 octets with it).
std::string defaultSender(const std::string &login, const std::string &mailName, const std::string &hostName,
    const std::string &localAddress);

} // namespace MailAddress
