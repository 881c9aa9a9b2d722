#include "probes/PolledWait.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QThread>

namespace PolledWait {

void run(const std::function<bool()> &condition, const TimeoutBarReader &boundSeconds)
{
    // Whole seconds since the epoch: a change of the local clock's offset
    // (daylight saving) cannot stretch or cut the wait.
    const qint64 start = QDateTime::currentSecsSinceEpoch();
    for (;;) {
        const qint64 now = QDateTime::currentSecsSinceEpoch();
        const bool holds = condition();
        const qint64 elapsed = now - start;
        const int bound = boundSeconds();
        if (!holds || elapsed >= bound)
            return;
        QThread::msleep(100);
        QCoreApplication::processEvents();
    }
}

} // namespace PolledWait
