#pragma once

#include <QString>
#include <QtGlobal>

// Opening a program or document the way a desktop shell does.
namespace modWin32Api {

// Show states.
inline constexpr qint32 SW_HIDE = 0;
inline constexpr qint32 SW_SHOWNORMAL = 1;

// Shell results: above 32 the request was accepted; 32 or less it was refused.
inline constexpr qint32 SE_ERR_FNF = 2; // file not found
inline constexpr qint32 SE_ERR_PNF = 3; // path not found
inline constexpr qint32 SE_ERR_ACCESSDENIED = 5;
inline constexpr qint32 ERROR_BAD_FORMAT = 11; // an executable file that cannot be started
inline constexpr qint32 SE_ERR_NOASSOC = 31; // no application to open the document with
inline constexpr qint32 kShellAccepted = 42;

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
qint32 Shell_Execute(const QString &strFile, const QString &strParameters, const qint32 &lngShowCmd);

} // namespace modWin32Api
