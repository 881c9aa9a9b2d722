#include "window/FieldFocus.h"

#include <QApplication>
#include <QFocusEvent>
#include <QLineEdit>
#include <QMouseEvent>

void FieldFocus::attach(QLineEdit *field, Colour colour) { field->installEventFilter(new FieldFocus(field, colour)); }

FieldFocus::FieldFocus(QLineEdit *field, Colour colour)
    : QObject(field)
    , m_field(field)
    , m_colour(colour)
{
}

bool FieldFocus::eventFilter(QObject *, QEvent *event)
{
    switch (event->type()) {
    case QEvent::FocusIn: {
        // Coming back from another window or a context menu is no new entry:
        // the user's own selection stays.
        const Qt::FocusReason reason = static_cast<QFocusEvent *>(event)->reason();
        if (!m_entered && reason != Qt::PopupFocusReason)
            enter(reason == Qt::MouseFocusReason);
        break;
    }
    case QEvent::FocusOut: {
        const Qt::FocusReason reason = static_cast<QFocusEvent *>(event)->reason();
        if (m_entered && reason != Qt::PopupFocusReason && reason != Qt::ActiveWindowFocusReason)
            leave();
        break;
    }
    case QEvent::MouseButtonPress:
        // The press that gave the focus has done its work: left to the field it
        // would place the cursor and drop the selection made on entry.
        if (m_pressGaveFocus && static_cast<QMouseEvent *>(event)->button() == Qt::LeftButton) {
            m_pressGaveFocus = false;
            return true;
        }
        m_pressGaveFocus = false;
        break;
    default:
        break;
    }
    return false;
}

void FieldFocus::enter(bool byMouse)
{
    m_entered = true;
    m_pressGaveFocus = byMouse;
    m_field->selectAll();
    if (m_colour != Colour::Highlight)
        return;
    QPalette palette = m_field->palette();
    const QColor info = QApplication::palette(m_field).color(QPalette::ToolTipBase);
    palette.setColor(QPalette::Active, QPalette::Base, info);
    palette.setColor(QPalette::Inactive, QPalette::Base, info);
    m_field->setPalette(palette);
}

void FieldFocus::leave()
{
    m_entered = false;
    m_pressGaveFocus = false;
    if (m_colour != Colour::Highlight)
        return;
    QPalette palette = m_field->palette();
    const QPalette system = QApplication::palette(m_field);
    for (const auto group : { QPalette::Active, QPalette::Inactive, QPalette::Disabled })
        palette.setColor(group, QPalette::Base, system.color(group, QPalette::Base));
    m_field->setPalette(palette);
}
