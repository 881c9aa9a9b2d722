#include "modules/MailModule.h"

#include "modules/ModuleLoader.h"

namespace MailModule {

bool send(const Mail &mail, Wait::Waiter &waiter, std::string &failure)
{
    const auto entry = reinterpret_cast<EntryPoint>(ModuleLoader::load("ostrel-mail.so", kEntryPointName, &failure));
    if (!entry) {
        failure = "the mail module cannot be loaded: " + failure;
        return false;
    }
    return entry(&mail, &waiter, &failure) != 0;
}

} // namespace MailModule
