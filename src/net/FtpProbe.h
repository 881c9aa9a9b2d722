#pragma once

#include "base/Wait.h"
#include "net/Addresses.h"

#include <cstdint>
#include <string>
#include <vector>

// The FTP logon probe: connect to port 21 and log on, within a time limit.
namespace FtpProbe {

// Results of logOn() besides the server's own refusal code.
enum : int { LoggedOn = 0, NoConnection = -1, NotFtp = -2 };

// Connects to the FTP port of the first address that accepts, logs on with USER
// (and PASS when asked), says QUIT and closes, all within intTimeOut seconds
// (0 or below: the TCP probe's fallback bound). LoggedOn, the server's reply
// code when it refused, NoConnection (none made, time up, connection closed)
// or NotFtp (an answer that is no FTP reply).
int logOn(const std::vector<Address> &addresses, const std::string &user, const std::string &password,
    int16_t intTimeOut, Wait::Waiter &waiter = Wait::polling(), uint16_t port = 21);

// True when the logon on port 21 was accepted.
bool Check_FTP(const std::vector<Address> &addresses, const std::string &strName, const std::string &strPassword,
    int16_t intTimeOut, Wait::Waiter &waiter = Wait::polling());

} // namespace FtpProbe
