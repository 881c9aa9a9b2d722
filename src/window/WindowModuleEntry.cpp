// Entry point of the window module, called by the program once it has
// decided that a window or message box is wanted.
#include "base/Version.h"
#include "modules/WindowModule.h"
#include "window/MessageBox.h"
#include "window/frmOstrel.h"

#include <QApplication>
#include <QFileInfo>
#include <exception>

// Without a session bus (plain X, ssh -X) the D-Bus library would start one
// for the display on Qt's first call (X11 autolaunch: dbus-launch and a
// dbus-daemon), which outlives the window. Any address set stops that, as
// dbus-launch(1) says; the user's own bus is kept where the library would
// have found it by itself.
static void keepBusesWeWereNotGiven()
{
    if (!qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"))
        return;
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && QFileInfo(runtime + QStringLiteral("/bus")).exists())
        return;
    qputenv("DBUS_SESSION_BUS_ADDRESS", "disabled:");
}

extern "C" Q_DECL_EXPORT int ostrel_window_run(int argc, char **argv, int request, const char *helpText)
{
    keepBusesWeWereNotGiven();
    QApplication application(argc, argv);
    if (request == static_cast<int>(WindowModule::Request::HelpBox)) {
        MessageBox::show(
            nullptr, MessageBox::Icon::Information, QStringLiteral("Ostrel Help"), QString::fromUtf8(helpText));
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
