#pragma once

#include <QByteArray>

// Whether a window can be opened before anything tries: Qt ends the process
// when its platform cannot connect to a display.
namespace Display {

struct Environment {
    QByteArray qpaPlatform;     // QT_QPA_PLATFORM
    QByteArray x11Display;      // DISPLAY
    QByteArray waylandDisplay;  // WAYLAND_DISPLAY
    static Environment current();
};

// A window system that Qt can start on.
bool available(const Environment &environment = Environment::current());

// Also one that a user can see: offscreen and minimal render nowhere, so a
// message box there would wait for a click that can never come.
bool visible(const Environment &environment = Environment::current());

} // namespace Display
