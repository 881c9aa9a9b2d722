#include "base/Installation.h"

#include <climits>
#include <sys/stat.h>
#include <unistd.h>

namespace Installation {

std::string programFolder()
{
    char path[PATH_MAX];
    const ssize_t size = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (size <= 0)
        return {};
    const std::string program(path, static_cast<size_t>(size));
    return program.substr(0, std::max<size_t>(1, program.find_last_of('/')));
}

bool installed()
{
    const std::string folder = programFolder();
    struct stat status { };
    return folder.empty() || ::stat((folder + "/" OSTREL_DATA_RELDIR "/installed").c_str(), &status) == 0;
}

} // namespace Installation
