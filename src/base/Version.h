#pragma once

#include <string>

namespace Version {

inline constexpr const char *kTitle = "Ostrel";

// "1.0.0": major, minor and revision from the build.
std::string number();
// The window caption: title, a blank, the version.
std::string caption();

} // namespace Version
