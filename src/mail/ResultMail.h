#pragma once

#include <QString>

class MailSender;

namespace ResultMail {

// Sends the result mail of one check through `sender`: sender "Ostrel", the
// subject and one-line text naming port, device and outcome. True when it
// was sent, and also when both the mail server and the recipients are blank
// (nothing to do); false when only one of them is blank or sending failed.
bool Send_ResultMail(MailSender &sender, const QString &strMailServer, const QString &strRecipients,
    const QString &strPort, const QString &strDeviceName, bool bolPassed);

} // namespace ResultMail
