#include "base/Version.h"

namespace Version {

std::string number()
{
    return std::to_string(OSTREL_VERSION_MAJOR) + '.' + std::to_string(OSTREL_VERSION_MINOR) + '.'
        + std::to_string(OSTREL_VERSION_PATCH);
}

std::string caption() { return std::string(kTitle) + ' ' + number(); }

} // namespace Version
