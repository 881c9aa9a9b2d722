#pragma once

#include <QProxyStyle>

// The application's style with 13-pixel check box and option indicators,
// the size the window's 13-pixel rows were laid out for (some styles draw
// 14 and would lose the indicator's last line). A scroll bar that has the
// focus shows it with the style's focus frame, as the other controls do
// (styles draw none on scroll bars).
class IndicatorStyle : public QProxyStyle {
    Q_OBJECT
public:
    explicit IndicatorStyle(QObject *parent);

    int pixelMetric(
        PixelMetric metric, const QStyleOption *option = nullptr, const QWidget *widget = nullptr) const override;
    void drawComplexControl(ComplexControl control, const QStyleOptionComplex *option, QPainter *painter,
        const QWidget *widget = nullptr) const override;
};
