#include "entry/WindowModule.h"

#include "entry/Modules.h"

namespace WindowModule {

bool installed() { return !Modules::path("ostrel-window.so").empty(); }

std::optional<int> run(Request request, char *programName, std::string *error)
{
    const auto entry = reinterpret_cast<EntryPoint>(Modules::load("ostrel-window.so", kEntryPointName, error));
    if (!entry)
        return std::nullopt;
    // Only the program's name: the window takes no arguments, and Qt's own
    // options must not be read out of a calling sequence.
    char *arguments[] = { programName, nullptr };
    int count = 1;
    return entry(count, arguments, static_cast<int>(request));
}

} // namespace WindowModule
