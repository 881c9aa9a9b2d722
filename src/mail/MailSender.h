#pragma once

#include "mail/MailMessageControl.h"
#include "mail/SmtpClientControl.h"

#include <QObject>
#include <QStringList>

// Sends one mail: composes it with the message component, connects the SMTP
// client and hands the composed text over through the program's own text
// store. The check window owns one; the unattended run owns another.
class MailSender : public QObject {
    Q_OBJECT
public:
    explicit MailSender(QObject *parent = nullptr);

    // True only when the whole message went to the server and it accepted it.
    // Nothing is attached: a non-empty strAttachment fails the mail. A call
    // made while another mail of this object is still under way is refused (false).
    bool SMTPSEND(const QString &strMailServer, const QString &strFrom, const QString &strSubject,
        const QString &strBody, const QString &strAttachment, const QString &strRecipients);

    // Why the last mail failed, in one line: the step and the server's reply,
    // e.g. "RCPT TO:<x@y> refused: 550 5.1.1 unknown user".
    QString lastFailure() const { return m_failure; }
    void setLastFailure(const QString &why) { m_failure = why; }

private slots:
    void SmtpClient1_OnConnected();
    void SmtpClient1_OnError(int errorCode, const QString &description, const QString &server);

private:
    void Mail_Compose(
        const QString &strRecipients, const QString &strFrom, const QString &strSubject, const QString &strBody);
    bool Mail_Connect(const QString &strMailServer);
    bool Mail_Send(const QString &strFrom, const QStringList &recipients);
    bool fail(const QString &why);

    SmtpClientControl m_smtpClient1;
    MailMessageControl m_mailMessage1;
    qint16 m_intSmtpState = 0;
    bool m_sending = false;
    QString m_failure;
};
