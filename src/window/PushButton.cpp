#include "window/PushButton.h"

#include <QKeyEvent>
#include <QStyleOptionButton>
#include <QStylePainter>

void PushButton::paintEvent(QPaintEvent *event)
{
    if (icon().isNull()) {
        QPushButton::paintEvent(event);
        return;
    }
    QStylePainter painter(this);
    QStyleOptionButton option;
    initStyleOption(&option);

    // The style draws the bevel and the focus frame; picture and caption are placed here.
    QStyleOptionButton bevel = option;
    bevel.text.clear();
    bevel.icon = QIcon();
    painter.drawControl(QStyle::CE_PushButton, bevel);

    QRect contents = style()->subElementRect(QStyle::SE_PushButtonContents, &option, this);
    if (isDown() || isChecked()) {
        contents.translate(style()->pixelMetric(QStyle::PM_ButtonShiftHorizontal, &option, this),
            style()->pixelMetric(QStyle::PM_ButtonShiftVertical, &option, this));
    }
    const QSize picture = iconSize();
    const int textHeight = fontMetrics().height();
    const int spacing = 2;
    const int top = contents.top() + qMax(0, (contents.height() - picture.height() - spacing - textHeight) / 2);

    const QIcon::Mode mode = !isEnabled() ? QIcon::Disabled : underMouse() ? QIcon::Active : QIcon::Normal;
    const QPixmap pixmap = icon().pixmap(picture, devicePixelRatioF(), mode);
    painter.drawPixmap(contents.left() + (contents.width() - picture.width()) / 2, top, pixmap);

    int flags = Qt::AlignHCenter | Qt::AlignTop | Qt::TextShowMnemonic;
    if (!style()->styleHint(QStyle::SH_UnderlineShortcut, &option, this))
        flags |= Qt::TextHideMnemonic;
    const QRect caption(contents.left(), top + picture.height() + spacing, contents.width(), textHeight);
    style()->drawItemText(&painter, caption, flags, option.palette, isEnabled(), text(), QPalette::ButtonText);
}

void PushButton::keyPressEvent(QKeyEvent *event)
{
    // A held key presses once, as Space does.
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (enter && (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
        if (!event->isAutoRepeat())
            click();
    } else {
        QPushButton::keyPressEvent(event);
    }
}
