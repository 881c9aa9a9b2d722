#pragma once

#include <functional>

namespace ProbeSteps {

// How both probes meet a failure: one raised while attempting goes on with
// the closing steps; one raised while closing runs the closing steps once
// more, unless a failure has already been met; any further one reaches the
// caller.
template <typename Closing>
auto continueOnce(const std::function<void()> &attempt, Closing closing) -> decltype(closing())
{
    bool continued = false;
    try {
        attempt();
    } catch (...) {
        continued = true;
    }
    for (;;) {
        try {
            return closing();
        } catch (...) {
            if (continued)
                throw;
            continued = true;
        }
    }
}

} // namespace ProbeSteps
