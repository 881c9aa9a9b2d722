#pragma once

#include <QString>

class QWidget;

// The dialog behind the browse button.
namespace modDialogFile {

// Opens Qt's own dialog on existing files, modal to `owner`. `filter` holds
// description/pattern pairs separated by NUL characters, the first pair
// shown first. Returns the chosen file's full path, or "" when the user cancels.
QString Show_FileDialog(QWidget *owner, const QString &title, const QString &filter);

// The description of the pair that lists folders and whatever the user may
// run, whatever its name: on Linux programs and scripts rarely end in ".exe".
inline const QString kProgramsFilter = QStringLiteral("Programs and scripts");

} // namespace modDialogFile
