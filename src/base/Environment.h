#pragma once

#include <string>

// The program's environment variables, read in one way everywhere.
namespace Environment {

// The variable's value; "" when it is unset.
std::string get(const char *name);

// Set to something other than "".
bool isSet(const char *name);

} // namespace Environment
