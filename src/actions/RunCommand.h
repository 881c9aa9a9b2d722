#pragma once

#include <QString>

namespace modCommand {

// Starts the follow-up command with its argument text and never waits for it.
// A command ending in "/S" (any case) is started hidden, without the switch
// and the blanks around the name; otherwise the command text is used as it
// is, leading blanks included. True when there was nothing to run or the
// start was accepted.
bool Run_Command(const QString &strCommand, const QString &strArgument);

} // namespace modCommand
