#pragma once

#include <string>

// Where the program runs from.
namespace Installation {

// The folder that holds the running program.
std::string programFolder();

// Whether the program is installed (the Debian package, cmake --install)
// rather than run from a folder of its own (a copy, the build tree): the
// install rules put the marker "installed" into its data folder.
bool installed();

} // namespace Installation
