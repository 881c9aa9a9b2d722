#include "entry/Display.h"

#include <QLibrary>
#include <QtGlobal>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace Display {

namespace {

    // The first platform named, without its options ("xcb:foo=1;wayland" -> "xcb").
    QByteArray firstPlatform()
    {
        const QByteArray name = qgetenv("QT_QPA_PLATFORM").split(';').first();
        return name.split(':').first().trimmed();
    }

    // Asks the X server itself, through the same library Qt's platform uses
    // (loaded only here, never by an unattended run): the display's socket may
    // be gone, or the server may refuse us.
    bool xServerAnswers(const QByteArray &display)
    {
        if (display.isEmpty())
            return false;
        QLibrary xcb(QStringLiteral("xcb"), 1);
        using Connect = void *(*)(const char *, int *);
        using HasError = int (*)(void *);
        using Disconnect = void (*)(void *);
        const auto connect = reinterpret_cast<Connect>(xcb.resolve("xcb_connect"));
        const auto hasError = reinterpret_cast<HasError>(xcb.resolve("xcb_connection_has_error"));
        const auto disconnect = reinterpret_cast<Disconnect>(xcb.resolve("xcb_disconnect"));
        if (!connect || !hasError || !disconnect)
            return false;
        void *connection = connect(display.constData(), nullptr);
        const bool answered = connection && hasError(connection) == 0;
        if (connection)
            disconnect(connection);
        return answered;
    }

    bool waylandAnswers(const QByteArray &display)
    {
        if (display.isEmpty())
            return false;
        const QByteArray path = display.startsWith('/') ? display : qgetenv("XDG_RUNTIME_DIR") + '/' + display;
        sockaddr_un address {};
        address.sun_family = AF_UNIX;
        if (size_t(path.size()) >= sizeof(address.sun_path))
            return false;
        qstrncpy(address.sun_path, path.constData(), sizeof(address.sun_path));
        const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const bool answered = fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof(address)) == 0;
        if (fd >= 0)
            ::close(fd);
        return answered;
    }

} // namespace

bool available(QString *why)
{
    const QByteArray platform = firstPlatform();
    const QByteArray x11 = qgetenv("DISPLAY");
    const QByteArray wayland = qgetenv("WAYLAND_DISPLAY");
    const auto fail = [why](const QString &text) {
        if (why)
            *why = text;
        return false;
    };
    if (platform == "xcb" || (platform.isEmpty() && wayland.isEmpty())) {
        if (x11.isEmpty())
            return fail(QStringLiteral("no display is available (DISPLAY and WAYLAND_DISPLAY are not set)"));
        if (!xServerAnswers(x11))
            return fail(QStringLiteral("the X display \"%1\" cannot be reached").arg(QString::fromLocal8Bit(x11)));
        return true;
    }
    if (platform.isEmpty()) {
        if (xServerAnswers(x11))
            return true;
        if (!waylandAnswers(wayland))
            return fail(QStringLiteral("neither the X display \"%1\" nor the Wayland display \"%2\" can be reached")
                            .arg(QString::fromLocal8Bit(x11), QString::fromLocal8Bit(wayland)));
        // Qt would try the stale X display first and end the process there.
        qputenv("QT_QPA_PLATFORM", "wayland");
        return true;
    }
    if (platform.startsWith("wayland") && !waylandAnswers(wayland))
        return fail(
            QStringLiteral("the Wayland display \"%1\" cannot be reached").arg(QString::fromLocal8Bit(wayland)));
    return true;
}

bool visible()
{
    const QByteArray platform = firstPlatform();
    return platform != "offscreen" && platform != "minimal" && available();
}

} // namespace Display
