#pragma once

#include <QString>
#include <functional>
#include <optional>

// The values that drive one unattended check, as read from the calling
// sequence "DeviceName,PortNumber,Timeout,PASS or FAIL,Command,Argument,MailServer,recipients...".
struct CheckRequest {
    QString strDeviceName; // trimmed, never empty
    QString strAddress; // the device name when dotted, else its resolved address (may be empty)
    QString strPort; // as typed, trimmed; converted only when the probe is called
    QString strTimeout;
    bool bolPass = false; // trigger: PASS when true, FAIL otherwise
    QString strCommand;
    QString strArgument;
    QString strMailServer;
    QString strRecipients; // joined with "," and no blanks
};

namespace CallingSequence {

// Looks up the address of a device name that is not a dotted address; called
// at most once, before the rest of the sequence is read.
using AddressResolver = std::function<QString(const QString &deviceName)>;

// Reads the argument text; nothing when the sequence is rejected. `yield`
// runs after the address is settled and after each recipient field.
std::optional<CheckRequest> read(
    const QString &argumentText, const AddressResolver &resolve, const std::function<void()> &yield = {});

} // namespace CallingSequence
