#pragma once

#include <QObject>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <functional>

// Acts on the next modal window from inside its own event loop, so a test
// can open a modal window with the real exec() and still never block.
// Polls every 10 ms, at most 1000 times: the action runs once the window is
// up; a window still open 50 polls after its action is closed by force (and
// reported), one that never shows is given up on.
class ModalWatch : public QObject
{
    Q_OBJECT
public:
    using Action = std::function<void(QWidget *modal)>;

    explicit ModalWatch(Action action);

    // Whether a modal window came up.
    bool seen() const { return m_seen; }
    // The window was still open well after the action and had to be closed.
    bool forced() const { return m_forced; }

private:
    void poll();

    Action m_action;
    QTimer m_timer;
    int m_pollsLeft = 1000;
    int m_pollsAfterAction = 0;
    QPointer<QWidget> m_modal;
    bool m_seen = false;
    bool m_forced = false;
};
