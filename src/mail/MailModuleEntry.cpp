// Entry point of the mail module, loaded by an unattended run when a mail is due.
#include "mail/MailSender.h"
#include "mail/ResultMail.h"
#include "modules/MailModule.h"

#include <QCoreApplication>
#include <cstring>
#include <optional>

extern "C" Q_DECL_EXPORT int ostrel_mail_send(const char *server, const char *recipients, const char *port,
    const char *device, int passed, char *failure, unsigned long failureSize)
{
    static int argc = 1;
    static char name[] = "ostrel";
    static char *argv[] = { name, nullptr };
    std::optional<QCoreApplication> application;
    if (!QCoreApplication::instance())
        application.emplace(argc, argv);
    MailSender sender;
    const bool sent = ResultMail::Send_ResultMail(sender, QString::fromUtf8(server), QString::fromUtf8(recipients),
        QString::fromUtf8(port), QString::fromUtf8(device), passed != 0);
    const QByteArray why = sender.lastFailure().toUtf8();
    if (failureSize > 0) {
        const size_t length = std::min<size_t>(failureSize - 1, static_cast<size_t>(why.size()));
        std::memcpy(failure, why.constData(), length);
        failure[length] = '\0';
    }
    return sent ? 1 : 0;
}
