#pragma once

#include "followup/modWin32Api.h"

#include <string>
#include <vector>

namespace Command {

// Starts the follow-up command with its argument text and never waits for it.
// A command ending in "/S" (any case) is started hidden, without the switch
// and the blanks around the name; otherwise the command text is used as it
// is, leading blanks included. True when there was nothing to run or the
// start was accepted; `result` (when given) receives the shell's result.
bool Run_Command(const std::string &strCommand, const std::string &strArgument, const modWin32Api::Launch &launch = {},
    int32_t *result = nullptr);

// What the command learns of the check: the device and port it was given, control
// characters blanked and cut to their first 64 KiB, and the outcome.
std::vector<std::string> checkEnvironment(const std::string &device, const std::string &port, bool passed);

} // namespace Command
