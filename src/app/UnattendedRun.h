#pragma once

#include <string>

// One check from the calling sequence, reported in the result logs and, where
// someone reads them, on the terminal or to a monitoring engine; never shows
// a window and never reads or writes the stored settings.
namespace UnattendedRun {

enum class Outcome { Available, Unavailable, NotPerformed, Rejected };

// The whole run; returns the process's exit status.
int run(const std::string &argumentText);

} // namespace UnattendedRun
