#include "window/KeyPreview.h"

#include <QCoreApplication>
#include <QKeyEvent>
#include <QWidget>

KeyPreview::KeyPreview(QWidget *window, Handler handler)
    : QObject(window)
    , m_window(window)
    , m_handler(std::move(handler))
{
    QCoreApplication::instance()->installEventFilter(this);
}

bool KeyPreview::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() != QEvent::KeyPress || !watched->isWidgetType())
        return false;
    // A key the focused control leaves alone travels on to its parents and
    // passes through here again; only its first stop, the control that has
    // the focus (or the window itself), counts.
    const auto *target = static_cast<QWidget *>(watched);
    const QWidget *first = m_window->focusWidget() ? m_window->focusWidget() : m_window;
    if (target == first && target->window() == m_window)
        m_handler(static_cast<QKeyEvent *>(event));
    return false;
}
