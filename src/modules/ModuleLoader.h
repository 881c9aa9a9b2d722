#pragma once

#include <string>

// The program's modules (the window, the mail): beside the program in the
// build tree, in its library folder once installed, and for a copy of the
// installed program (or one whose own folder is unknown) in the library
// folder it was built for.
namespace ModuleLoader {

// Where the module is, or "" when it is in none of these places.
std::string path(const std::string &name);

// The entry point of the module, loaded once; nothing with `error` saying why.
void *load(const std::string &name, const char *entryPoint, std::string *error);

} // namespace ModuleLoader
