#include "qt/EventWait.h"

#include <QSocketNotifier>
#include <algorithm>
#include <poll.h>
#include <vector>

namespace {
bool g_abandoned = false;
// The loops running now, innermost last; all on the one thread that runs the checks.
std::vector<QEventLoop *> g_running;
} // namespace

EventWait::EventWait(QDeadlineTimer deadline)
    : m_deadline(deadline)
{
    m_limit.setTimerType(Qt::PreciseTimer); // its first timeout ends the loop, which stops it
    QObject::connect(&m_limit, &QTimer::timeout, &m_loop, &QEventLoop::quit);
}

EventWait::~EventWait() = default;

bool EventWait::exec()
{
    if (g_abandoned || m_deadline.hasExpired())
        return false;
    if (!m_deadline.isForever())
        m_limit.start(static_cast<int>(m_deadline.remainingTime())); // not expired, so 0 or more
    g_running.push_back(&m_loop);
    m_loop.exec();
    g_running.erase(std::find(g_running.begin(), g_running.end(), &m_loop));
    m_limit.stop();
    return m_finished && !g_abandoned;
}

void EventWait::abandonAll()
{
    g_abandoned = true;
    for (QEventLoop *loop : g_running)
        loop->quit();
}

bool EventWait::abandoned() { return g_abandoned; }

bool EventWait::waiting() { return !g_running.empty(); }

bool EventWaiter::wait(int fd, short events, Wait::Deadline deadline)
{
    const int remaining = Wait::remainingMs(deadline);
    if (remaining == 0) // no time to wait, but what is ready counts
        return Wait::polling().wait(fd, events, deadline);
    QSocketNotifier notifier(fd, events & POLLOUT ? QSocketNotifier::Write : QSocketNotifier::Read);
    EventWait wait(deadline == Wait::kForever ? QDeadlineTimer(QDeadlineTimer::Forever)
                                              : QDeadlineTimer(remaining, Qt::PreciseTimer));
    wait.finishOn(&notifier, &QSocketNotifier::activated);
    return wait.exec();
}

void EventWait::resetAbandoned() { g_abandoned = false; }
