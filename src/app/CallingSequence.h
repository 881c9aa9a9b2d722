#pragma once

#include "net/Addresses.h"

#include <functional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

// The values that drive one unattended check, as read from the calling
// sequence "DeviceName,PortNumber,Timeout,PASS or FAIL,Command,Argument,MailServer,recipients...".
struct CheckRequest {
    std::string strDeviceName; // trimmed, never empty
    Addresses::LookUp addresses; // of the device: its own when dotted, else looked up
    std::string strPort; // as typed, trimmed; converted only when the probe is called
    std::string strTimeout;
    bool bolPass = false; // trigger: PASS when true, FAIL otherwise
    std::string strCommand; // trimmed
    std::string strArgument;
    std::string strMailServer;
    std::string strRecipients; // joined with "," and no blanks
};

namespace CallingSequence {

// Why a sequence was rejected, in words: "the timeout is missing".
struct Rejected {
    std::string why;
};

// Looks up the device's addresses; called at most once, before the rest of
// the sequence is read.
using Resolver = std::function<Addresses::LookUp(const std::string &deviceName)>;

// Reads the argument text in one pass, however many fields it has.
std::variant<CheckRequest, Rejected> read(std::string_view argumentText, const Resolver &resolve);

} // namespace CallingSequence
