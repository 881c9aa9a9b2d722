#include "base/Installation.h"

#include <climits>
#include <sys/stat.h>
#include <unistd.h>

namespace Installation {

std::string programFolder()
{
    char path[PATH_MAX];
    const ssize_t size = ::readlink("/proc/self/exe", path, sizeof path - 1);
    const std::string program = size > 0 ? std::string(path, static_cast<size_t>(size)) : "./ostrel";
    return program.substr(0, std::max<size_t>(1, program.find_last_of('/')));
}

bool installed()
{
    struct stat status { };
    return ::stat((programFolder() + "/" OSTREL_DATA_RELDIR "/installed").c_str(), &status) == 0;
}

} // namespace Installation
