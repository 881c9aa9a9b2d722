#pragma once

#include "probes/EventWait.h"

#include <functional>

// The value of the window's timeout bar (whole seconds, 1..60) as the probes'
// closing waits read it, pass by pass. The unattended run loads no settings,
// so there it is the bar's design value.
using TimeoutBarReader = std::function<int()>;
inline constexpr int kTimeoutBarDesignValue = 15;

namespace PolledWait {

// Waits while `condition` holds and fewer whole seconds than `boundSeconds`
// have passed on the clock; the test comes first. Between tests the event
// loop runs until `watch` sees a change or the next whole second begins (the
// only moments the outcome can change), so the wait neither spins nor
// freezes the window. Ends at once when waits are abandoned.
void run(const std::function<bool()> &condition, const TimeoutBarReader &boundSeconds,
    const std::function<void(EventWait &)> &watch);

// The same, waking on `changed` of `sender`.
template <typename Sender, typename Signal>
void run(
    const std::function<bool()> &condition, const TimeoutBarReader &boundSeconds, const Sender *sender, Signal changed)
{
    run(condition, boundSeconds, [sender, changed](EventWait &wait) { wait.finishOn(sender, changed); });
}

} // namespace PolledWait
