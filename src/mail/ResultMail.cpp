#include "mail/ResultMail.h"

#include "base/TextRules.h"
#include "mail/MailSender.h"
#include "qt/Utf8.h"

namespace ResultMail {

bool Send_ResultMail(MailSender &sender, const QString &strMailServer, const QString &strRecipients,
    const QString &strPort, const QString &strDeviceName, bool bolPassed)
{
    const bool noServer = TextRules::isBlank(Utf8::from(strMailServer));
    const bool noRecipients = TextRules::isBlank(Utf8::from(strRecipients));
    if (noServer || noRecipients) {
        sender.setLastFailure(noServer == noRecipients ? QString()
                : noServer                             ? QStringLiteral("no mail server given")
                                                       : QStringLiteral("no recipients given"));
        return noServer && noRecipients;
    }

    // The text is one line, as the subject and the logs are, whatever the device name and port hold.
    const auto oneLine
        = [](const QString &text) { return QString::fromStdString(TextRules::blankControls(text.toStdString())); };
    const QString strDevice = oneLine(strDeviceName);
    const QString strSubject
        = (bolPassed ? QStringLiteral("Port Check Passed on device ") : QStringLiteral("Port Check Failed on device "))
        + strDevice;
    const QString strBody = QStringLiteral("Port ") + oneLine(strPort) + QStringLiteral(" on device ") + strDevice
        + (bolPassed ? QStringLiteral(" is available.") : QStringLiteral(" is un-available."));
    return sender.SMTPSEND(strMailServer, QStringLiteral("Ostrel"), strSubject, strBody, QString(), strRecipients);
}

} // namespace ResultMail
