#include "modules/WindowModule.h"

#include "modules/ModuleLoader.h"

namespace WindowModule {

bool installed() { return !ModuleLoader::path("ostrel-window.so").empty(); }

std::optional<int> run(Request request, char *programName, const std::string &helpText, std::string *error)
{
    const auto entry = reinterpret_cast<EntryPoint>(ModuleLoader::load("ostrel-window.so", kEntryPointName, error));
    if (!entry)
        return std::nullopt;
    // Only the program's name: the window takes no arguments, and Qt's own
    // options must not be read out of a calling sequence.
    char *arguments[] = { programName, nullptr };
    int count = 1;
    return entry(count, arguments, static_cast<int>(request), helpText.c_str());
}

} // namespace WindowModule
