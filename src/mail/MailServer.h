#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// The mail server field: "host", "host:port", "[v6]:port" or a bare IPv6
// address as ever (plain SMTP, port 25); "smtp://[user@]host[:port]"
// (STARTTLS required, port 587) and "smtps://[user@]host[:port]" (TLS from
// the start, port 465).
struct MailServer {
    enum Security { Plain, StartTls, Tls };
    Security security = Plain;
    std::string user; // "" when the field names none
    std::string host; // an IPv4 or IPv6 address, or a host name in its ASCII form
    uint16_t port = 25;

    static std::optional<MailServer> read(std::string_view field);
};
