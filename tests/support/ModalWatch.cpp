#include "ModalWatch.h"

#include <QApplication>

ModalWatch::ModalWatch(Action action)
    : m_action(std::move(action))
{
    connect(&m_timer, &QTimer::timeout, this, &ModalWatch::poll);
    m_timer.start(10);
}

void ModalWatch::poll()
{
    if (--m_pollsLeft < 0) {
        m_timer.stop();
    } else if (!m_seen) {
        QWidget *modal = QApplication::activeModalWidget();
        if (!modal || !modal->isVisible())
            return;
        m_seen = true;
        m_modal = modal;
        m_action(modal);
    } else if (!m_modal || !m_modal->isVisible()) {
        m_timer.stop();
    } else if (++m_pollsAfterAction >= 50) {
        m_forced = true;
        m_modal->close();
        m_timer.stop();
    }
}
