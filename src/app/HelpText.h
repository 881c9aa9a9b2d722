#pragma once

#include <string>

namespace HelpText {

// The calling sequence with two examples, nine lines joined by line feeds.
std::string text();

} // namespace HelpText
