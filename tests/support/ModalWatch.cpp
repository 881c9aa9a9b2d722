#include "ModalWatch.h"

#include <QApplication>

ModalWatch::ModalWatch(std::function<void(QWidget *modal)> action)
{
    m_timer.callOnTimeout([this, action] {
        if (++m_polls > 1000) {
            m_timer.stop();
        } else if (!m_seen) {
            m_modal = QApplication::activeModalWidget();
            if (m_modal && m_modal->isVisible()) {
                m_seen = true;
                m_polls = 950;
                action(m_modal);
            }
        } else if (!m_modal || !m_modal->isVisible()) {
            m_timer.stop();
        } else if (m_polls == 1000) {
            m_forced = true;
            m_modal->close();
        }
    });
    m_timer.start(10);
}
