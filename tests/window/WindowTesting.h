#pragma once

#include <QRect>
#include <QString>
#include <QWidget>
#include <stdexcept>

// Finding the window's controls by name and reading their places in twips.
namespace WindowTesting {

template <typename Control = QWidget>
Control *control(const QWidget &window, const QString &name)
{
    auto *found = window.findChild<Control *>(name);
    if (!found)
        throw std::runtime_error("no control named " + name.toStdString());
    return found;
}

inline QRect twips(const QWidget *control)
{
    const QRect pixels = control->geometry();
    return QRect(pixels.x() * 15, pixels.y() * 15, pixels.width() * 15, pixels.height() * 15);
}

} // namespace WindowTesting
