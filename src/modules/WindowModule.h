#pragma once

#include <optional>
#include <string>

// The window and the message boxes live in a module of their own
// ("ostrel-window.so", the package ostrel-window), loaded only when one is to
// be shown: an unattended run never loads a graphical library.
namespace WindowModule {

enum class Request : int { CheckWindow = 0, HelpBox = 1 };

// The module's entry point: runs the request on a fresh QApplication and
// returns the exit code. The help box shows `helpText`.
using EntryPoint = int (*)(int argc, char **argv, int request, const char *helpText);
inline constexpr const char *kEntryPointName = "ostrel_window_run";

// Whether the module is there at all, beside the program or where it is installed.
bool installed();

// Loads the module and runs the request. Nothing when it cannot be loaded;
// `error` then says why.
std::optional<int> run(Request request, char *programName, const std::string &helpText, std::string *error);

} // namespace WindowModule
