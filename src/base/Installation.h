#pragma once

#include <string>

// Where the program runs from.
namespace Installation {

// The folder that holds the running program, or "" when its path cannot be
// read (no /proc): never the current folder, which anyone may have chosen.
std::string programFolder();

// Whether the program is installed (the Debian package, cmake --install)
// rather than run from a folder of its own (a copy, the build tree): the
// install rules put the marker "installed" into its data folder. A program
// whose folder is unknown counts as installed.
bool installed();

} // namespace Installation
