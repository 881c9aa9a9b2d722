#include "modules/MailModule.h"

#include "modules/ModuleLoader.h"

namespace MailModule {

bool sendResultMail(const std::string &server, const std::string &recipients, const std::string &port,
    const std::string &device, bool passed, std::string &failure)
{
    const auto send = reinterpret_cast<EntryPoint>(ModuleLoader::load("ostrel-mail.so", kEntryPointName, &failure));
    if (!send) {
        failure = "the mail module cannot be loaded: " + failure;
        return false;
    }
    char reason[1024] = {};
    const bool sent
        = send(server.c_str(), recipients.c_str(), port.c_str(), device.c_str(), passed, reason, sizeof reason) != 0;
    failure = reason;
    return sent;
}

} // namespace MailModule
