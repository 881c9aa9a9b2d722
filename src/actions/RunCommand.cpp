#include "actions/RunCommand.h"

#include "actions/modWin32Api.h"
#include "probes/TextRules.h"

namespace modCommand {

bool Run_Command(const QString &strCommand, const QString &strArgument)
{
    if (strCommand.isEmpty())
        return true;
    if (strCommand.right(2).toUpper() == QLatin1String("/S")) {
        const QString file = TextRules::trimSpaces(strCommand.chopped(2));
        return modWin32Api::Shell_Execute(file, strArgument, modWin32Api::SW_HIDE) > 32;
    }
    return modWin32Api::Shell_Execute(strCommand, strArgument, modWin32Api::SW_SHOWNORMAL) > 32;
}

} // namespace modCommand
