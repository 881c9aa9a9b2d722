#pragma once

#include <QString>
#include <array>

// The well-known services offered beside the port field, in the order the
// list shows them (not sorted: HTTP comes before TFTP). The last entry is
// the catch-all for any port text that names none of the others.
namespace ServiceList {

struct Service {
    const char *name;
    int port;
};

inline constexpr std::array<Service, 17> kServices { {
    { "ANY", 0 },
    { "ECHO", 7 },
    { "DISCARD", 9 },
    { "SYSTAT", 11 },
    { "DAYTIME", 13 },
    { "NETSTAT", 15 },
    { "FTP", 21 },
    { "TELNET", 23 },
    { "SMTP", 25 },
    { "TIMESERVER", 37 },
    { "NAMESERVER", 42 },
    { "WHOIS", 43 },
    { "MTP", 57 },
    { "FINGER", 79 },
    { "HTTP", 80 },
    { "TFTP", 69 },
    { "Other!", 0 },
} };

inline constexpr int kOtherIndex = static_cast<int>(kServices.size()) - 1;

// The entry whose port, written in decimal digits, is exactly this text
// (no trimming, no reading as a number: "021" and " 21" name no service);
// the catch-all for any other text, the empty one included.
int indexForPortText(const QString &text);

} // namespace ServiceList
