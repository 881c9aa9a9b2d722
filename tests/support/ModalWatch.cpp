#include "ModalWatch.h"

#include <QApplication>

ModalWatch::ModalWatch(Action action, int polls)
    : m_action(std::move(action))
    , m_pollsLeft(polls)
{
    m_timer.setInterval(10);
    connect(&m_timer, &QTimer::timeout, this, &ModalWatch::poll);
    m_timer.start();
}

void ModalWatch::poll()
{
    if (--m_pollsLeft < 0) {
        m_timer.stop();
        return;
    }
    if (!m_seen) {
        QWidget *modal = QApplication::activeModalWidget();
        if (!modal || !modal->isVisible())
            return;
        m_seen = true;
        m_modal = modal;
        m_objectName = modal->objectName();
        m_windowTitle = modal->windowTitle();
        m_action(modal);
        return;
    }
    if (!m_modal || !m_modal->isVisible()) {
        m_timer.stop();
        return;
    }
    if (++m_pollsAfterAction >= 50) {
        m_forced = true;
        m_modal->close();
        m_timer.stop();
    }
}
