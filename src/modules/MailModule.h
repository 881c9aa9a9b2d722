#pragma once

#include "base/Wait.h"

#include <string>

// The result mail goes out through libcurl, which a run loads only when a
// mail is due: the module "ostrel-mail.so".
namespace MailModule {

// One composed mail, texts in UTF-8.
struct Mail {
    std::string server; // the mail server field, as typed
    std::string senderName; // shown beside the sender's address
    std::string subject;
    std::string body;
    std::string recipients; // entries separated by ","
};

// The module's entry point: sends the mail while `waiter` waits for it, and
// returns at once when the waits are abandoned; nonzero when it was sent.
// The reason of a failure, one line, goes into `failure`. Program and module
// are built together, so C++ types may cross.
using EntryPoint = int (*)(const Mail *mail, Wait::Waiter *waiter, std::string *failure);
inline constexpr const char *kEntryPointName = "ostrel_mail_send";

// Loads the module and sends the mail (SMTPSEND); false with `failure` saying why.
bool send(const Mail &mail, Wait::Waiter &waiter, std::string &failure);

} // namespace MailModule
