#include "probes/PolledWait.h"

#include <QDateTime>

namespace PolledWait {

void run(const std::function<bool()> &condition, const TimeoutBarReader &boundSeconds,
    const std::function<void(EventWait &)> &watch)
{
    // Whole seconds since the epoch: a change of the local clock's offset
    // (daylight saving) cannot stretch or cut the wait.
    const qint64 start = QDateTime::currentSecsSinceEpoch();
    for (;;) {
        const qint64 nowMs = QDateTime::currentMSecsSinceEpoch();
        const bool holds = condition();
        const qint64 elapsed = nowMs / 1000 - start;
        const int bound = boundSeconds();
        if (!holds || elapsed >= bound || EventWait::abandoned())
            return;
        EventWait wait { QDeadlineTimer(1000 - nowMs % 1000, Qt::PreciseTimer) };
        watch(wait);
        wait.exec();
    }
}

} // namespace PolledWait
