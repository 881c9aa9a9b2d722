#pragma once

#include <QIcon>
#include <QPixmap>

// The window's own pictures, drawn at run time so they stay sharp at any
// size and screen scale.
namespace Icons {

// The program: a network socket with a green light.
QIcon program();
// The check button: a socket with an arrow going into it.
QIcon checkPort();
// The result lights, 32 by 32 device-independent pixels.
QIcon greenLight();
QIcon redLight();

// An icon as a pixmap of `size` device-independent pixels for a screen of this scale.
QPixmap pixmap(const QIcon &icon, int size, qreal devicePixelRatio);

} // namespace Icons
