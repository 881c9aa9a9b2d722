#pragma once

#include "common/Wait.h"

#include <optional>
#include <string>
#include <string_view>
#include <sys/socket.h>
#include <vector>

// A device's network address, as the system's sockets take it.
struct Address {
    sockaddr_storage storage {};
    socklen_t length = 0;

    int family() const { return storage.ss_family; }
    // "10.0.0.5", "::1", "fe80::1%lo": the usual text, an IPv6 zone included.
    std::string text() const;
    bool operator==(const Address &other) const;
};

namespace Addresses {

// The longest host name DNS can carry (without its final dot).
inline constexpr size_t kLongestName = 253;

// The address a device name is by itself, blanks around it allowed: four
// decimal parts of one to three digits, each up to 255 (a leading zero is
// no octal sign here), or an IPv6 address with or without brackets and with
// or without a zone ("fe80::1%lo", "[fe80::1%2]").
std::optional<Address> literal(std::string_view name);

enum class Found { Addresses, NoSuchHost, TimedOut, Abandoned };

struct LookUp {
    Found found = Found::NoSuchHost;
    std::vector<Address> addresses; // IPv4 ones first, each in the resolver's order
    std::string canonicalName; // the resolver's canonical name, "" when none
};

// Asks the system resolver on a thread of its own, which nothing waits for:
// a resolver that never answers holds neither the caller beyond its deadline
// nor the end of the program, and its late answer is dropped.
LookUp lookUp(std::string_view name, Wait::Deadline deadline, Wait::Waiter &waiter);

// The addresses a probe connects to: the literal itself; none for a text of
// the dotted shape that is no IPv4 address (999.1.1.1, 10.0.0.1.5) or a name
// longer than DNS allows, which are never looked up; else every address the
// name resolves to.
LookUp ofDevice(std::string_view name, Wait::Deadline deadline, Wait::Waiter &waiter);

} // namespace Addresses
