#pragma once

#include "actions/MailMessageControl.h"
#include "actions/SmtpClientControl.h"

#include <QObject>
#include <QStringList>
#include <functional>

// Sends one mail: composes it with the message component, connects the SMTP
// client and hands the composed text over through the program's own text
// store. The check window owns one; the unattended run owns another.
class MailSender : public QObject
{
    Q_OBJECT
public:
    // How long Mail_Connect waits for the server to be ready.
    static constexpr int kConnectBoundMs = 10000;
    static constexpr int kPieceLength = 2048;

    explicit MailSender(QObject *parent = nullptr);

    // True only when the whole message went to the server and it accepted it.
    // An empty strAttachment means no attachment. A call made while another
    // mail of this object is still under way is refused (false).
    bool SMTPSEND(const QString &strMailServer, const QString &strFrom, const QString &strSubject,
                  const QString &strBody, const QString &strAttachment, const QString &strRecipients);

    // The recipients text split at every ",", entries trimmed: "A,,B" keeps
    // the empty entry, "A," gives A alone, blanks alone give one empty entry.
    // `yield` runs once per comma and once more at the end.
    static QStringList recipientList(const QString &strRecipients, const std::function<void()> &yield = {});

    SmtpClientControl &SmtpClient1() { return m_smtpClient1; }
    MailMessageControl &MailMessage1() { return m_mailMessage1; }
    qint16 intSmtpState() const { return m_intSmtpState; }

private slots:
    void SmtpClient1_OnConnected();
    void SmtpClient1_OnError(int errorCode, const QString &description, const QString &server);

private:
    bool Mail_Compose(const QString &strRecipients, const QString &strFrom, const QString &strSubject,
                      const QString &strBody, const QString &strAttachment);
    bool Mail_Connect(const QString &strMailServer);
    bool Mail_Send(const QString &strFrom, const QStringList &recipients);

    SmtpClientControl m_smtpClient1;
    MailMessageControl m_mailMessage1;
    qint16 m_intSmtpState = 0;
    bool m_sending = false;
};
