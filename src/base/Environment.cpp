#include "base/Environment.h"

#include <cstdlib>

namespace Environment {

std::string get(const char *name)
{
    const char *value = std::getenv(name);
    return value ? value : "";
}

bool isSet(const char *name)
{
    const char *value = std::getenv(name);
    return value && *value;
}

} // namespace Environment
