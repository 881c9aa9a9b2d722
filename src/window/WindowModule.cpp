// Entry point of the window module, called by the program once it has
// decided that a window or message box is wanted.
#include "entry/WindowModule.h"
#include "common/Version.h"
#include "entry/HelpText.h"
#include "shell/MessageBox.h"
#include "window/frmOstrel.h"

#include <QApplication>
#include <exception>

extern "C" Q_DECL_EXPORT int ostrel_window_run(int argc, char **argv, int request)
{
    QApplication application(argc, argv);
    if (request == static_cast<int>(WindowModule::Request::HelpBox)) {
        MessageBox::show(nullptr, MessageBox::Icon::Information, QString::fromUtf8(HelpText::kCaption),
            QString::fromStdString(HelpText::text()));
        return 0;
    }
    try {
        frmOstrel form;
        form.Form_Load();
        return application.exec();
    } catch (const std::exception &failure) {
        QApplication::beep();
        MessageBox::show(nullptr, MessageBox::Icon::Critical, QLatin1String(Version::kTitle),
            QStringLiteral("Error loading main form, ") + QString::fromLocal8Bit(failure.what()));
        return 1;
    }
}
