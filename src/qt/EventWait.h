#pragma once

#include "base/Wait.h"

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QObject>
#include <QTimer>

// A wait that keeps the event loop running, so the window repaints and takes
// input meanwhile and the CPU sleeps until something happens. It ends on the
// first of: a finishing signal, the deadline, or abandonAll().
//
//     EventWait wait(QDeadlineTimer(2000));
//     wait.finishOn(&notifier, &QSocketNotifier::activated);
//     const bool ready = wait.exec();
//
// Signals are only delivered while events are processed, so a caller tests
// the state first and then waits: nothing can slip between the two.
class EventWait {
public:
    explicit EventWait(QDeadlineTimer deadline);
    ~EventWait();
    EventWait(const EventWait &) = delete;
    EventWait &operator=(const EventWait &) = delete;

    // Ends the wait as finished when `sender` emits `signal`.
    template <typename Sender, typename Signal> void finishOn(const Sender *sender, Signal signal)
    {
        QObject::connect(sender, signal, &m_loop, [this] {
            m_finished = true;
            m_loop.quit();
        });
    }

    // Runs the loop; true only when a finishing signal came first. Returns at
    // once, unfinished, when the deadline has passed or waits are abandoned.
    bool exec();

    // The program is going away (its window closed during a check): every
    // running wait returns at once and every later one returns without waiting.
    static void abandonAll();
    static bool abandoned();
    // Whether a wait is running now.
    static bool waiting();
    // Tests that abandon a check start the next one afresh.
    static void resetAbandoned();

private:
    QEventLoop m_loop;
    QTimer m_limit;
    QDeadlineTimer m_deadline;
    bool m_finished = false;
};

// The core's waits (a connect, a look-up, an FTP reply, an echo, the
// desktop's answer) as event-loop waits: the window repaints and takes input
// while a descriptor is watched.
class EventWaiter final : public Wait::Waiter {
public:
    bool wait(int fd, short events, Wait::Deadline deadline) override;
    bool abandoned() const override { return EventWait::abandoned(); }
};
