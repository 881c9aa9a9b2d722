#include "modules/ModuleLoader.h"

#include "base/Installation.h"

#include <dlfcn.h>
#include <unistd.h>

namespace ModuleLoader {

std::string path(const std::string &name)
{
    const std::string folder = Installation::programFolder();
    for (const std::string &candidate : { folder + '/' + name, folder + "/" OSTREL_MODULE_RELDIR "/" + name }) {
        if (::access(candidate.c_str(), R_OK) == 0)
            return candidate;
    }
    return {};
}

void *load(const std::string &name, const char *entryPoint, std::string *error)
{
    const std::string found = path(name);
    if (found.empty()) {
        if (error)
            *error = name + " is not installed";
        return nullptr;
    }
    void *module = ::dlopen(found.c_str(), RTLD_NOW | RTLD_LOCAL);
    void *entry = module ? ::dlsym(module, entryPoint) : nullptr;
    if (!entry && error)
        *error = ::dlerror();
    return entry;
}

} // namespace ModuleLoader
