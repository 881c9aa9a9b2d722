#pragma once

namespace modCommand {

// Start-up: "--help", "--version" and "/?" anywhere answer and end; an empty
// command line opens the check window; anything else is one unattended run.
// Returns the process's exit status.
int Main(int argc, char **argv);

} // namespace modCommand
