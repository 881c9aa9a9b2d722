#pragma once

#include <string>

// The program's modules (the window, the mail), beside the program in the
// build tree or in its library folder once installed.
namespace ModuleLoader {

// Where the module is, or "" when it is in neither place.
std::string path(const std::string &name);

// The entry point of the module, loaded once; nothing with `error` saying why.
void *load(const std::string &name, const char *entryPoint, std::string *error);

} // namespace ModuleLoader
