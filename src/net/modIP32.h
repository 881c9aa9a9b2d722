#pragma once

#include "base/Wait.h"

#include <cstdint>
#include <string>
#include <string_view>

// Device addresses: the dotted-address test, host look-up, ICMP echo and the
// sockets start-up they need. No state is kept between calls.
namespace modIP32 {

// Status texts of Socket_Startup. Callers decide by comparing the text with
// kSocketStartupSuccess, never by the number returned.
inline constexpr const char *kSocketStartupSuccess = "Socket initialization successfull.";
inline constexpr const char *kSocketStartupFailure = "ERROR : Socket initialization failure.";

// True when the text has the shape of a dotted address (Addresses::hasDottedShape).
bool Is_IPAddress(std::string_view text);

// The first address of the host (IPv4 before IPv6) in its usual text form, a
// zone included; empty text when it cannot be resolved. The look-up lasts as
// long as the system resolver takes, or until the waits are abandoned.
std::string Get_HostIP(std::string_view name, Wait::Waiter &waiter = Wait::polling());

// True when one of at most `count` echo requests to the address or host name
// got a reply within `wait` milliseconds; no further request follows a reply.
// A host reached only over IPv6 gets ICMPv6 echo requests. An ICMP datagram
// socket is used where the system allows one (net.ipv4.ping_group_range),
// else a raw socket (CAP_NET_RAW), else no request goes out at all.
bool Ping_Host(std::string_view strIP, int16_t count, int16_t wait, std::string_view payload,
    Wait::Waiter &waiter = Wait::polling());

// 0 when sockets are ready, -1 otherwise; `message` (when given) receives the
// status text. Linux sockets need no start-up; a process that may open no
// descriptor at all has none.
int32_t Socket_Startup(std::string *message = nullptr);
void Socket_Cleanup();

} // namespace modIP32
