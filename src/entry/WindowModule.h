#pragma once

#include <QString>
#include <optional>

// The window and the message boxes live in a module of their own
// ("ostrel-window"), loaded only when one is to be shown: an unattended run
// then never loads the GUI libraries, which keeps it fast on any machine.
namespace WindowModule {

enum class Request : int { CheckWindow = 0, HelpBox = 1 };

// The module's entry point: runs the request on a fresh QApplication and
// returns the exit code.
using EntryPoint = int (*)(int argc, char **argv, int request);
inline constexpr const char *kEntryPointName = "ostrel_window_run";

// Loads the module beside the program (or where it is installed) and runs
// the request. Nothing when the module cannot be loaded; `error` then says why.
std::optional<int> run(Request request, char *programName, QString *error);

} // namespace WindowModule
