#pragma once

#include <string>

namespace ArgumentText {

// The program's arguments joined with single blanks, so that
// `ostrel host, 23, 15, FAIL` reads as the text "host, 23, 15, FAIL".
std::string fromArguments(int argc, char **argv);

} // namespace ArgumentText
