#include "probes/FallbackBound.h"

namespace FallbackBound {

namespace {
    int g_milliseconds = 15000;
}

int milliseconds() { return g_milliseconds; }

Override::Override(int milliseconds)
    : m_previous(g_milliseconds)
{
    g_milliseconds = milliseconds;
}

Override::~Override() { g_milliseconds = m_previous; }

} // namespace FallbackBound
