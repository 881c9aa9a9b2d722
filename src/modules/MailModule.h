#pragma once

#include <string>

// The result mail goes out through Qt Network (TLS above all), which an
// unattended run loads only when a mail is due: the module "ostrel-mail.so".
namespace MailModule {

// The module's entry point: sends the result mail; nonzero when it was sent.
// The reason of a failure, one line, goes into `failure` (cut to its size).
using EntryPoint = int (*)(const char *server, const char *recipients, const char *port, const char *device, int passed,
    char *failure, unsigned long failureSize);
inline constexpr const char *kEntryPointName = "ostrel_mail_send";

// Sends the result mail of one check (Send_ResultMail); false with `failure` saying why.
bool sendResultMail(const std::string &server, const std::string &recipients, const std::string &port,
    const std::string &device, bool passed, std::string &failure);

} // namespace MailModule
