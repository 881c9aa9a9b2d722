#include "followup/ResultMail.h"

#include "base/TextRules.h"
#include "modules/MailModule.h"

namespace ResultMail {

std::string resultLine(const std::string &port, const std::string &device, bool passed)
{
    return "Port " + port + " on device " + device + (passed ? " is available." : " is un-available.");
}

bool Send_ResultMail(const std::string &strMailServer, const std::string &strRecipients, const std::string &strPort,
    const std::string &strDeviceName, bool bolPassed, Wait::Waiter &waiter, std::string &failure)
{
    const bool noServer = TextRules::isBlank(strMailServer);
    const bool noRecipients = TextRules::isBlank(strRecipients);
    if (noServer || noRecipients) {
        failure = noServer == noRecipients ? "" : noServer ? "no mail server given" : "no recipients given";
        return noServer && noRecipients;
    }
    // The text is one line, as the subject and the logs are, whatever the device name and port hold.
    const std::string strDevice = TextRules::blankControls(strDeviceName);
    MailModule::Mail mail;
    mail.server = strMailServer;
    mail.senderName = "Ostrel";
    mail.subject = (bolPassed ? "Port Check Passed on device " : "Port Check Failed on device ") + strDevice;
    mail.body = resultLine(TextRules::blankControls(strPort), strDevice, bolPassed);
    mail.recipients = strRecipients;
    return MailModule::send(mail, waiter, failure);
}

} // namespace ResultMail
