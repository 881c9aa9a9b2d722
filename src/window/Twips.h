#pragma once

#include <QRect>
#include <QtGlobal>

// The window is laid out in twips (1/1440 inch) and drawn at 15 twips to a
// device-independent pixel, so every measure of the layout lands on a whole pixel.
namespace Twips {

inline constexpr int kPerPixel = 15;

constexpr int toPixels(qint32 twips)
{
    return static_cast<int>(twips >= 0 ? (twips + kPerPixel / 2) / kPerPixel : -((-twips + kPerPixel / 2) / kPerPixel));
}

constexpr qint32 fromPixels(int pixels) { return static_cast<qint32>(pixels) * kPerPixel; }

constexpr QRect rect(qint32 left, qint32 top, qint32 width, qint32 height)
{
    return QRect(toPixels(left), toPixels(top), toPixels(width), toPixels(height));
}

} // namespace Twips
