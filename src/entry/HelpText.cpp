#include "entry/HelpText.h"

#include <QStringList>

namespace HelpText {

QString text()
{
    const QString device = QStringLiteral("fileserver1");
    const QString recipient1 = QStringLiteral("admin@example.com");
    const QString recipient2 = QStringLiteral("oncall@example.com");
    const QString mailServer = QStringLiteral("mail.example.com");
    return QStringList {
        QStringLiteral("Use the following calling sequence..."),
        QString(),
        QStringLiteral("OSTREL DeviceName,PortNumber,Timeout,PASS or FAIL,Command,Argument,MailServer,") + recipient1
            + QLatin1Char(',') + recipient2 + QStringLiteral("..."),
        QString(),
        QStringLiteral("Example 1...(ping a server if port check fails)"),
        QStringLiteral("OSTREL ") + device + QStringLiteral(", 23, 15, FAIL, c:\\winnt\\ping.exe"),
        QString(),
        QStringLiteral("Example 2...(send an email if port check passes)"),
        QStringLiteral("OSTREL ") + device + QStringLiteral(", 23, 15, PASS, , , ") + mailServer + QStringLiteral(", ")
            + recipient1,
    }
        .join(QLatin1Char('\n'));
}

} // namespace HelpText
