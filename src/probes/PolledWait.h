#pragma once

#include <functional>

// The value of the window's timeout bar (whole seconds, 1..60) as the probes'
// closing waits read it, pass by pass. The unattended run loads no settings,
// so there it is the bar's design value.
using TimeoutBarReader = std::function<int()>;
inline constexpr int kTimeoutBarDesignValue = 15;

namespace PolledWait {

// Waits while `condition` holds and fewer whole seconds than `boundSeconds`
// have passed on the clock. The test comes first; each further pass sleeps
// 100 ms and then processes pending events, so notifications arrive and the
// window stays responsive without the wait spinning.
void run(const std::function<bool()> &condition, const TimeoutBarReader &boundSeconds);

} // namespace PolledWait
