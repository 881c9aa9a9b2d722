#pragma once

#include "base/Wait.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Opening a program or document the way a desktop shell does.
namespace modWin32Api {

// Show states.
inline constexpr int32_t SW_HIDE = 0;
inline constexpr int32_t SW_SHOWNORMAL = 1;

// Shell results: above 32 the request was accepted; 32 or less it was refused,
// and for an executable file that could not be started errno holds why.
inline constexpr int32_t SE_ERR_FNF = 2; // file not found
inline constexpr int32_t SE_ERR_PNF = 3; // path not found
inline constexpr int32_t SE_ERR_ACCESSDENIED = 5;
inline constexpr int32_t ERROR_BAD_FORMAT = 11; // an executable file that could not be started
inline constexpr int32_t SE_ERR_NOASSOC = 31; // no application to open the document with
inline constexpr int32_t kShellAccepted = 42;

// What a start needs besides the file and its parameters.
struct Launch {
    std::vector<std::string> environment; // "NAME=value" entries added to the program's own
    bool hidden = false; // the standard streams on the null device, whatever the show state
    Wait::Waiter *waiter = nullptr; // how to wait for the desktop's answers (poll() when none)
};

// Opens `strFile` from the current folder, never waiting for what it starts.
// - An executable file is started detached with `strParameters` split into
//   arguments the way a shell splits words (double quotes keep blanks); no
//   shell ever reads the texts. A name without "/" is looked for on PATH
//   first, then in the current folder.
// - Any other file or folder opens in the desktop's application for its type
//   (xdg-open), its parameters unused; without a display, the xdg tools or an
//   application for the type the result is SE_ERR_NOASSOC.
// Show state SW_HIDE sends the standard streams to the null device; any
// other keeps them.
int32_t Shell_Execute(
    const std::string &strFile, const std::string &strParameters, int32_t lngShowCmd, const Launch &launch = {});

// What a refused result means, for a person: "no such file"; for an
// executable file that could not be started, the system's reason `error`
// (the errno that Shell_Execute left): "Exec format error".
std::string describe(int32_t result, int error);

// The parameters as arguments: blanks separate them, double quotes keep
// blanks together, three double quotes in a row give one.
std::vector<std::string> splitCommand(std::string_view text);

} // namespace modWin32Api
