#pragma once

#include <QString>
#include <QStringList>
#include <optional>

class QFileDialog;
class QWidget;

// The open and save dialogs.
namespace modDialogFile {

// mode 1 opens an existing file, any other mode saves. filter holds
// description/pattern pairs separated by NUL characters, the first pair
// shown first. multiSelect absent: one existing file; true: several, returned
// as the folder followed by the file names, all joined by ","; false: one.
// Returns "" when the user cancels.
QString Show_FileDialog(QWidget *owner, int mode, const QString &title, const QString &fileName,
                        const QString &filter, const QString &initialDir, const QString &defaultExt,
                        std::optional<bool> multiSelect = std::nullopt);

// The description of the pair that lists executable files only, whatever
// their names: on Linux programs and scripts rarely end in ".exe".
inline const QString kProgramsFilter = QStringLiteral("Programs and scripts");

// Sets a dialog up as Show_FileDialog does, without showing it.
void configure(QFileDialog &dialog, int mode, const QString &title, const QString &fileName,
               const QString &filter, const QString &initialDir, const QString &defaultExt,
               std::optional<bool> multiSelect);

// The result text for the files chosen: one full path, or the folder and the
// names joined by "," when several were chosen.
QString joinChoice(const QStringList &chosenPaths);

// Tests: the next Show_FileDialog takes these files as the user's choice
// (an empty list: the user cancels) instead of showing the dialog.
void setNextChoice(const QStringList &chosenPaths);

} // namespace modDialogFile
