#pragma once

#include <string>

namespace HelpText {

// The calling sequence with two examples, nine lines joined by line feeds:
// the text of the /? help box.
std::string text();

// --help: the calling sequence, an example of each common use, the exit
// statuses, the environment and the folder this run's logs would go to.
std::string usage();

} // namespace HelpText
