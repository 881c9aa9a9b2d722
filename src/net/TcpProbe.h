#pragma once

#include "base/Wait.h"
#include "net/Addresses.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

// The TCP port probe: does the device accept a connection on the port within
// the time limit? Used by the unattended run and by the check window.
namespace TcpProbe {

// Why a port was not available; the words a person reads are in describe().
enum class Failure { None, Refused, NoAnswer, NoSuchHost, LookUpFailed, NoRoute, PortZero, Other };

// Why a device without addresses was not checked: NoSuchHost, or LookUpFailed
// when the resolver could not say.
Failure failureOf(Addresses::Found found);

struct Outcome {
    bool accepted = false;
    Failure failure = Failure::NoSuchHost;
    int error = 0; // the system's error number, for Failure::Other
    double seconds = 0; // from the start of the connect to the connection being accepted
};

// The time limit of intTimeOut seconds as the probe applies it: 0 or below (only the command line gives one)
// waits 15 s.
int limitMs(int16_t intTimeOut);

// Connects to each address in turn, IPv4 ones first as given, until one
// accepts or intTimeOut seconds have passed, and closes the connection at
// once. A connect that fails at once (refused, no route) goes on with the
// next address; so does the outcome of the last one tried.
Outcome Check_Socket(const std::vector<Address> &addresses, uint16_t intSocketType, int16_t intTimeOut,
    Wait::Waiter &waiter = Wait::polling());

// Connects to the first address that accepts before the deadline; the open
// descriptor, or -1 with `outcome` saying why.
int connectAny(const std::vector<Address> &addresses, uint16_t port, Wait::Deadline deadline, Wait::Waiter &waiter,
    Outcome &outcome);

// What a service says first on the connection `fd`: `request` is sent (when
// any), then what arrives is read until `enough` holds for it, the service
// closes, `limit` bytes came or the deadline passes.
std::string firstBytes(int fd, std::string_view request, const std::function<bool(std::string_view)> &enough,
    size_t limit, Wait::Deadline deadline, Wait::Waiter &waiter);

// Sends what it can of `bytes` before the deadline; false when not all went.
bool sendAll(int fd, std::string_view bytes, Wait::Deadline deadline, Wait::Waiter &waiter);

// "Connection refused", "No answer within 5 s", "No such host", "No route to the device"...
std::string describe(const Outcome &outcome, int16_t intTimeOut);

} // namespace TcpProbe
