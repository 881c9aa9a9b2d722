#pragma once

#include <string>

namespace HelpText {

inline constexpr const char *kCaption = "Ostrel Help";

// The calling sequence with two examples, nine lines joined by line feeds.
std::string text();

} // namespace HelpText
