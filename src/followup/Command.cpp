#include "followup/Command.h"

#include "base/TextRules.h"

namespace Command {

bool Run_Command(
    const std::string &strCommand, const std::string &strArgument, const modWin32Api::Launch &launch, int32_t *result)
{
    if (strCommand.empty())
        return true;
    const bool silent
        = strCommand.size() >= 2 && strCommand[strCommand.size() - 2] == '/' && (strCommand.back() | 0x20) == 's';
    const int32_t shell = silent
        ? modWin32Api::Shell_Execute(
            std::string(TextRules::trimSpaces(std::string_view(strCommand).substr(0, strCommand.size() - 2))),
            strArgument, modWin32Api::SW_HIDE, launch)
        : modWin32Api::Shell_Execute(strCommand, strArgument, modWin32Api::SW_SHOWNORMAL, launch);
    if (result)
        *result = shell;
    return shell > 32;
}

std::vector<std::string> checkEnvironment(const std::string &device, const std::string &port, bool passed)
{
    // One line each, and short enough for one environment string (Linux takes 32 pages, 128 KiB at the least):
    // a longer one would keep the command from starting at all.
    const auto shown = [](const std::string &text) {
        const std::string line = TextRules::blankControls(text);
        return std::string(TextRules::cutAtCharacter(line, 65536));
    };
    return { "OSTREL_DEVICE=" + shown(device), "OSTREL_PORT=" + shown(port),
        std::string("OSTREL_RESULT=") + (passed ? "available" : "un-available") };
}

} // namespace Command
