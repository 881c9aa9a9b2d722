#pragma once

#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <functional>

// Acts on the next modal window from inside its own event loop, so a test can
// open one with the real exec() and never block. Polls every 10 ms for at
// most 10 s; a window still open 0.5 s after the action is closed by force.
class ModalWatch
{
public:
    explicit ModalWatch(std::function<void(QWidget *modal)> action);
    bool seen() const { return m_seen; }     // a modal window came up
    bool forced() const { return m_forced; } // and had to be closed by force

private:
    QTimer m_timer;
    QPointer<QWidget> m_modal;
    int m_polls = 0;
    bool m_seen = false;
    bool m_forced = false;
};
