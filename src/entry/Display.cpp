#include "entry/Display.h"

#include <QList>
#include <QtGlobal>

namespace Display {

Environment Environment::current()
{
    return {qgetenv("QT_QPA_PLATFORM"), qgetenv("DISPLAY"), qgetenv("WAYLAND_DISPLAY")};
}

namespace {

// The first platform named, without its options ("xcb:foo=1;wayland" -> "xcb").
QByteArray firstPlatform(const QByteArray &qpaPlatform)
{
    QByteArray name = qpaPlatform.split(';').first();
    return name.split(':').first().trimmed();
}

} // namespace

bool available(const Environment &environment)
{
    const QByteArray platform = firstPlatform(environment.qpaPlatform);
    if (platform.isEmpty())
        return !environment.x11Display.isEmpty() || !environment.waylandDisplay.isEmpty();
    if (platform == "xcb")
        return !environment.x11Display.isEmpty();
    if (platform.startsWith("wayland"))
        return !environment.waylandDisplay.isEmpty();
    return true;
}

bool visible(const Environment &environment)
{
    const QByteArray platform = firstPlatform(environment.qpaPlatform);
    return available(environment) && platform != "offscreen" && platform != "minimal";
}

} // namespace Display
