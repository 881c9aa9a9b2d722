#include "modules/ModuleLoader.h"

#include "base/Installation.h"

#include <dlfcn.h>
#include <unistd.h>
#include <vector>

namespace ModuleLoader {

std::string path(const std::string &name)
{
    const std::string folder = Installation::programFolder();
    // Beside the program, in its library folder, then where it was built to be installed; a program whose
    // folder is unknown looks only there, never in the current folder.
    std::vector<std::string> candidates;
    if (!folder.empty())
        candidates = { folder + '/' + name, folder + "/" OSTREL_MODULE_RELDIR "/" + name };
    candidates.push_back(OSTREL_MODULE_DIR "/" + name);
    for (const std::string &candidate : candidates) {
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
