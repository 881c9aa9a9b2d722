#pragma once

#include "base/Wait.h"

#include <string>

// The result mail of one check, and the result line it shares with the logs.
namespace ResultMail {

// "Port 22 on device 10.0.0.5 is available." or "... is un-available."
std::string resultLine(const std::string &port, const std::string &device, bool passed);

// Sends the result mail of one check through the mail module while `waiter`
// waits: sender "Ostrel", a subject and a one-line text naming port, device
// and outcome. True when it was sent, and also when both the mail server and
// the recipients are blank (nothing to do); false with `failure` saying why
// when only one of them is blank or sending failed.
bool Send_ResultMail(const std::string &strMailServer, const std::string &strRecipients, const std::string &strPort,
    const std::string &strDeviceName, bool bolPassed, Wait::Waiter &waiter, std::string &failure);

} // namespace ResultMail
