// The window's links to the desktop: the browse button and the keys.
#include "window/frmOstrel.h"

#include "followup/modWin32Api.h"
#include "qt/EventWait.h"
#include "window/modDialogFile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QScopedValueRollback>
#include <QStringList>
#include <exception>

namespace {

// Description/pattern pairs as the file dialog takes them. Programs and
// scripts on Linux rarely end in ".exe", so the first pair lists whatever
// may be run.
QString browseFilter()
{
    const QStringList pairs {
        modDialogFile::kProgramsFilter,
        QStringLiteral("*"),
        QStringLiteral("EXE Files (*.exe)"),
        QStringLiteral("*.exe"),
        QStringLiteral("All Files (*.*)"),
        QStringLiteral("*.*"),
    };
    return pairs.join(QChar(0)) + QChar(0) + QChar(0);
}

// The program's file name with ".htm", beside the program; an installed
// program keeps it in share/help instead.
QString helpPagePath()
{
    const QString page = QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName() + QStringLiteral(".htm");
    const QDir folder(QCoreApplication::applicationDirPath());
    const QString beside = folder.filePath(page);
    if (QFileInfo::exists(beside))
        return beside;
    const QString installed = QDir::cleanPath(folder.filePath(QStringLiteral(OSTREL_HELP_RELDIR "/") + page));
    return QFileInfo::exists(installed) ? installed : beside;
}

} // namespace

void frmOstrel::btnBrowse_Click()
{
    const QString chosen = modDialogFile::Show_FileDialog(this, QStringLiteral("Select File"), browseFilter());
    if (!chosen.isEmpty())
        txtEXE->setText(chosen);
}

// Every key of the window passes here first and then goes on to its field unchanged.
void frmOstrel::Form_KeyDown(int KeyCode, Qt::KeyboardModifiers Shift)
{
    try {
        switch (KeyCode) {
        case Qt::Key_Escape:
            close();
            break;
        case Qt::Key_F1:
            // Shift+F1 is the About window's own key: Ctrl+F1 and Alt+F1 belong to desktops.
            if (Shift & Qt::ShiftModifier) {
                Form_DblClick();
                break;
            }
            [[fallthrough]];
        case Qt::Key_F2:
            // Without the page or an application for it nothing happens.
            // The desktop's answer is awaited with the event loop running; keys
            // pressed meanwhile open no second page.
            if (!m_helpOpening) {
                const QScopedValueRollback<bool> opening(m_helpOpening, true);
                EventWaiter waiter;
                modWin32Api::Launch launch;
                launch.waiter = &waiter;
                modWin32Api::Shell_Execute(
                    helpPagePath().toStdString(), std::string(), modWin32Api::SW_SHOWNORMAL, launch);
            }
            break;
        default:
            break;
        }
    } catch (const std::exception &) {
        // A key that fails leaves the window as it was.
    }
}
