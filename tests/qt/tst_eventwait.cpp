// The core's waits on the window's event loop, which turns while a descriptor is watched and closing ends at once.
#include "Check.h"
#include "qt/EventWait.h"

#include <QCoreApplication>
#include <QTimer>
#include <chrono>
#include <poll.h>
#include <unistd.h>

using namespace std::chrono;

CHECK_TEST(waits)
{
    EventWaiter waiter;
    // The deadline (ms, -1 forever), when the descriptor turns ready (ms, -1 never), when the window closes (ms,
    // -1 never); the answer, and how long it took at most and at least.
    const struct {
        const char *name;
        int deadline, ready, closed;
        bool answer;
        int atLeast, atMost;
    } rows[] = { { "ready, no time left", 0, 0, -1, true, 0, 50 }, { "silent, no time left", 0, -1, -1, false, 0, 50 },
        { "silent until the deadline", 300, -1, -1, false, 290, 1000 }, { "ready later", -1, 100, -1, true, 90, 1000 },
        { "closed while waiting", -1, -1, 100, false, 90, 1000 }, { "closed before", 300, -1, 0, false, 0, 50 } };
    for (const auto &row : rows) {
        int ends[2];
        CHECK(::pipe(ends) == 0, row.name);
        if (row.ready == 0)
            CHECK(::write(ends[1], "x", 1) == 1, row.name);
        if (row.closed == 0)
            EventWait::abandonAll();
        QTimer later, ticks;
        int ticked = 0;
        later.callOnTimeout([&] {
            if (row.ready > 0)
                CHECK(::write(ends[1], "x", 1) == 1, row.name);
            if (row.closed > 0)
                EventWait::abandonAll();
        });
        ticks.callOnTimeout([&] { ++ticked; });
        if (std::max(row.ready, row.closed) > 0)
            later.start(std::max(row.ready, row.closed));
        ticks.start(10);
        const auto start = steady_clock::now();
        const bool answer = waiter.wait(ends[0], POLLIN, row.deadline < 0 ? Wait::kForever : Wait::after(row.deadline));
        const auto took = duration_cast<milliseconds>(steady_clock::now() - start).count();
        CHECK_EQ(answer, row.answer, row.name);
        CHECK(took >= row.atLeast && took <= row.atMost, std::string(row.name) + ", " + std::to_string(took) + " ms");
        CHECK(took < 100 || ticked >= took / 40, std::string(row.name) + ": the event loop stood still");
        EventWait::resetAbandoned();
        ::close(ends[0]);
        ::close(ends[1]);
    }
}

int main(int argc, char **argv)
{
    QCoreApplication application(argc, argv);
    return Check::run(argc, argv);
}
