#include "window/Icons.h"

#include <QIconEngine>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <functional>

namespace {

// Paints into a square of side 1 (scaled by the caller), at any size.
using Drawing = std::function<void(QPainter &)>;

class DrawnIconEngine : public QIconEngine {
public:
    explicit DrawnIconEngine(Drawing drawing)
        : m_drawing(std::move(drawing))
    {
    }

    void paint(QPainter *painter, const QRect &rect, QIcon::Mode mode, QIcon::State) override
    {
        const int side = qMin(rect.width(), rect.height());
        if (side <= 0)
            return;
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing);
        painter->translate(rect.x() + (rect.width() - side) / 2.0, rect.y() + (rect.height() - side) / 2.0);
        painter->scale(side, side);
        if (mode == QIcon::Disabled)
            painter->setOpacity(0.4);
        m_drawing(*painter);
        painter->restore();
    }

    QPixmap pixmap(const QSize &size, QIcon::Mode mode, QIcon::State state) override
    {
        QPixmap result(size);
        result.fill(Qt::transparent);
        QPainter painter(&result);
        paint(&painter, QRect(QPoint(0, 0), size), mode, state);
        return result;
    }

    QPixmap scaledPixmap(const QSize &size, QIcon::Mode mode, QIcon::State state, qreal scale) override
    {
        QPixmap result = pixmap(size * scale, mode, state);
        result.setDevicePixelRatio(scale);
        return result;
    }

    QIconEngine *clone() const override { return new DrawnIconEngine(m_drawing); }

private:
    Drawing m_drawing;
};

void drawLight(QPainter &painter, const QColor &lit, const QColor &dark)
{
    const QPointF centre(0.5, 0.5);
    painter.setPen(QPen(QColor(40, 40, 40), 0.04));
    QRadialGradient glow(QPointF(0.4, 0.38), 0.5);
    glow.setColorAt(0.0, lit.lighter(170));
    glow.setColorAt(0.45, lit);
    glow.setColorAt(1.0, dark);
    painter.setBrush(glow);
    painter.drawEllipse(centre, 0.42, 0.42);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(255, 255, 255, 150));
    painter.drawEllipse(QPointF(0.38, 0.33), 0.12, 0.08);
}

// The face of a network socket: a rounded frame with the opening and its latch.
void drawSocket(QPainter &painter, const QRectF &face)
{
    painter.setPen(QPen(QColor(30, 45, 70), 0.035));
    painter.setBrush(QColor(225, 230, 238));
    painter.drawRoundedRect(face, 0.06, 0.06);
    const qreal w = face.width();
    const qreal h = face.height();
    QPainterPath opening;
    opening.moveTo(face.left() + 0.18 * w, face.top() + 0.22 * h);
    opening.lineTo(face.right() - 0.18 * w, face.top() + 0.22 * h);
    opening.lineTo(face.right() - 0.18 * w, face.top() + 0.62 * h);
    opening.lineTo(face.left() + 0.64 * w, face.top() + 0.62 * h);
    opening.lineTo(face.left() + 0.64 * w, face.top() + 0.78 * h);
    opening.lineTo(face.left() + 0.36 * w, face.top() + 0.78 * h);
    opening.lineTo(face.left() + 0.36 * w, face.top() + 0.62 * h);
    opening.lineTo(face.left() + 0.18 * w, face.top() + 0.62 * h);
    opening.closeSubpath();
    painter.setBrush(QColor(30, 45, 70));
    painter.drawPath(opening);
    painter.setPen(QPen(QColor(220, 180, 60), 0.025));
    for (int pin = 0; pin < 4; ++pin) {
        const qreal x = face.left() + (0.27 + 0.153 * pin) * w;
        painter.drawLine(QPointF(x, face.top() + 0.26 * h), QPointF(x, face.top() + 0.38 * h));
    }
}

QIcon drawn(Drawing drawing) { return QIcon(new DrawnIconEngine(std::move(drawing))); }

} // namespace

namespace Icons {

QIcon program()
{
    return drawn([](QPainter &painter) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(36, 84, 150));
        painter.drawRoundedRect(QRectF(0.02, 0.02, 0.96, 0.96), 0.16, 0.16);
        drawSocket(painter, QRectF(0.1, 0.3, 0.6, 0.6));
        painter.save();
        painter.translate(0.56, 0.02);
        painter.scale(0.42, 0.42);
        drawLight(painter, QColor(40, 210, 60), QColor(0, 90, 20));
        painter.restore();
    });
}

QIcon checkPort()
{
    return drawn([](QPainter &painter) {
        drawSocket(painter, QRectF(0.32, 0.18, 0.64, 0.64));
        QPainterPath arrow;
        arrow.moveTo(0.02, 0.42);
        arrow.lineTo(0.3, 0.42);
        arrow.lineTo(0.3, 0.3);
        arrow.lineTo(0.5, 0.5);
        arrow.lineTo(0.3, 0.7);
        arrow.lineTo(0.3, 0.58);
        arrow.lineTo(0.02, 0.58);
        arrow.closeSubpath();
        painter.setPen(QPen(QColor(0, 70, 20), 0.03));
        painter.setBrush(QColor(50, 180, 70));
        painter.drawPath(arrow);
    });
}

QIcon greenLight()
{
    return drawn([](QPainter &painter) { drawLight(painter, QColor(40, 210, 60), QColor(0, 90, 20)); });
}

QIcon redLight()
{
    return drawn([](QPainter &painter) { drawLight(painter, QColor(235, 40, 30), QColor(110, 0, 0)); });
}

QPixmap pixmap(const QIcon &icon, int size, qreal devicePixelRatio)
{
    return icon.pixmap(QSize(size, size), devicePixelRatio);
}

} // namespace Icons
