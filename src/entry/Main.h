#pragma once

namespace modCommand {

// Start-up: "/?" anywhere shows the help, an empty command line opens the
// check window, anything else is one unattended run. Returns the process's
// exit code, which is 0 unless the program could not start at all: an
// unattended run reports only through its logs and follow-up actions.
int Main(int argc, char **argv);

} // namespace modCommand
