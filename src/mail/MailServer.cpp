#include "mail/MailServer.h"

#include "base/TextRules.h"
#include "mail/MailAddress.h"
#include "net/Addresses.h"

#include <strings.h>
#include <tuple>

namespace {

std::string percentDecoded(std::string_view text)
{
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        const auto hex = [](char c) { return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10; };
        if (text[i] == '%' && i + 2 < text.size() && std::isxdigit(uint8_t(text[i + 1]))
            && std::isxdigit(uint8_t(text[i + 2]))) {
            out += char(hex(text[i + 1]) * 16 + hex(text[i + 2]));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

// The server's host as it is reached; "" when the text is none.
std::string serverHost(std::string_view text, bool bracketed, bool bareIpv6)
{
    // A leading zero is no octal sign here, as for the device.
    if (const auto v4 = Addresses::dottedQuad(text))
        return v4->text();
    if (MailAddress::isIpv6(text))
        return bracketed || bareIpv6 ? std::string(text) : std::string();
    return bracketed ? std::string() : MailAddress::aceDomain(text);
}

// "host", "host:port", "[v6]" or "[v6]:port"; a bare IPv6 address only where allowed.
bool readHostPort(std::string_view text, bool bareIpv6, MailServer &server)
{
    std::optional<uint16_t> port = server.port;
    std::string_view host = text;
    const bool bracketed = !text.empty() && text.front() == '[';
    if (bracketed) {
        const size_t close = text.find(']');
        if (close == std::string_view::npos)
            return false;
        const std::string_view rest = text.substr(close + 1);
        host = text.substr(1, close - 1);
        if (!rest.empty() && rest.front() == ':')
            port = TextRules::toPortNumber(rest.substr(1));
        else if (!rest.empty())
            return false;
    } else if (const size_t colon = text.find(':'); colon != std::string_view::npos && text.rfind(':') == colon) {
        host = text.substr(0, colon);
        port = TextRules::toPortNumber(text.substr(colon + 1));
    }
    server.host = serverHost(host, bracketed, bareIpv6);
    if (!port || *port == 0 || server.host.empty())
        return false;
    server.port = *port;
    return true;
}

} // namespace

std::optional<MailServer> MailServer::read(std::string_view field)
{
    const std::string_view trimmed = TextRules::trimSpaces(field);
    MailServer server;
    std::string_view rest = trimmed;
    for (const auto &[scheme, security, port] : { std::tuple { std::string_view("smtps://"), Tls, 465 },
             std::tuple { std::string_view("smtp://"), StartTls, 587 } }) {
        if (trimmed.size() < scheme.size() || ::strncasecmp(trimmed.data(), scheme.data(), scheme.size()) != 0)
            continue;
        server.security = security;
        server.port = static_cast<uint16_t>(port);
        rest = trimmed.substr(scheme.size());
        if (!rest.empty() && rest.back() == '/')
            rest.remove_suffix(1);
        if (const size_t at = rest.rfind('@'); at != std::string_view::npos) {
            server.user = percentDecoded(rest.substr(0, at));
            rest = rest.substr(at + 1);
            if (server.user.empty() || TextRules::blankControls(server.user) != server.user)
                return std::nullopt;
        }
        break;
    }
    if (!readHostPort(rest, server.security == Plain, server))
        return std::nullopt;
    return server;
}
