#pragma once

#include "base/Wait.h"

#include <memory>
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

// The shape of a dotted address: three numeric parts, each ended by a "."
// found from the second character on, then a numeric rest. No range check
// and no count of further dots: 999.1.1.1 and 1.2.3.4.5 both pass (the rest
// of the latter reads as the number 4.5). Such a text is never looked up.
bool hasDottedShape(std::string_view text);

// Exactly four decimal parts of one to three digits, each up to 255, and
// nothing around them; a leading zero is no octal sign here.
std::optional<Address> dottedQuad(std::string_view text);

// The address a device name is by itself, blanks around it allowed: four
// decimal parts of one to three digits, each up to 255 (a leading zero is
// no octal sign here), or an IPv6 address with or without brackets and with
// or without a zone ("fe80::1%lo", "[fe80::1%2]").
std::optional<Address> literal(std::string_view name);

// NoSuchHost: the name does not exist, or has no address. LookUpFailed: the
// resolver could not say (unreachable, a temporary or server failure), as
// TimedOut, where our own deadline passed first.
enum class Found { Addresses, NoSuchHost, LookUpFailed, TimedOut, Abandoned };

struct LookUp {
    Found found = Found::NoSuchHost;
    std::vector<Address> addresses; // IPv4 ones first, each in the resolver's order
    std::string canonicalName; // the resolver's canonical name, "" when none
};

// A look-up under way on a thread of its own, which nothing waits for: a
// resolver that never answers holds neither its caller nor the end of the
// program, and an answer nobody wants any more is dropped.
class LookUpInProgress {
public:
    explicit LookUpInProgress(std::string_view name);
    // The answer, waited for until the deadline (TimedOut) or until the
    // waiter is abandoned (Abandoned).
    LookUp answer(Wait::Deadline deadline, Wait::Waiter &waiter) const;

private:
    struct Pending;
    std::shared_ptr<Pending> m_pending;
};

// The addresses of a name, waited for until the deadline.
LookUp lookUp(std::string_view name, Wait::Deadline deadline, Wait::Waiter &waiter);

// What a device name gives without asking a resolver: the literal itself;
// none for a text of the dotted shape that is no IPv4 address (999.1.1.1,
// 10.0.0.1.5) or a name longer than DNS allows. Nothing when the name is to
// be looked up.
std::optional<LookUp> withoutLookUp(std::string_view name);

// The addresses a probe connects to: withoutLookUp(), else every address the
// name resolves to.
LookUp ofDevice(std::string_view name, Wait::Deadline deadline, Wait::Waiter &waiter);

} // namespace Addresses
