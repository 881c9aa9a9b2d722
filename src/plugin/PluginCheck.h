#pragma once

#include "base/Wait.h"
#include "plugin/PluginLine.h"
#include "plugin/PluginOptions.h"

#include <string>
#include <vector>

// check_ostrel's check: look-up, connect, and the optional exchange, all within the one timeout.
namespace PluginCheck {

struct Result {
    PluginLine::Verdict verdict;
    std::vector<std::string> details; // with -v: the addresses tried, the answer read
};

Result run(const PluginOptions &options, Wait::Waiter &waiter = Wait::polling());

} // namespace PluginCheck
