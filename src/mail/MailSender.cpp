#include "mail/MailSender.h"

#include "base/TextRules.h"
#include "mail/MailFormat.h"
#include "mail/TextStore.h"
#include "qt/EventWait.h"
#include "qt/Utf8.h"

#include <QDeadlineTimer>
#include <QScopedValueRollback>
#include <algorithm>

MailSender::MailSender(QObject *parent)
    : QObject(parent)
{
    connect(&m_smtpClient1, &SmtpClientControl::OnConnected, this, &MailSender::SmtpClient1_OnConnected);
    connect(&m_smtpClient1, &SmtpClientControl::OnError, this, &MailSender::SmtpClient1_OnError);
}

void MailSender::SmtpClient1_OnConnected() { m_intSmtpState = 1; }

void MailSender::SmtpClient1_OnError(int, const QString &, const QString &) { m_intSmtpState = -1; }

bool MailSender::SMTPSEND(const QString &strMailServer, const QString &strFrom, const QString &strSubject,
    const QString &strBody, const QString &strAttachment, const QString &strRecipients)
{
    // The waits process events, so a second mail could start from inside the
    // first one; it would share the components and their state, so it is refused.
    if (m_sending)
        return false;
    const QScopedValueRollback<bool> sending(m_sending, true);
    m_failure.clear();
    if (!strAttachment.isEmpty())
        return fail(QStringLiteral("no attachment can be sent"));

    Mail_Compose(strRecipients, strFrom, strSubject, strBody);
    if (!Mail_Connect(strMailServer))
        return false;
    return Mail_Send(strFrom, MailFormat::splitRecipients(strRecipients));
}

// Notes the first reason, ends the session (QUIT once the server has
// greeted) and reports failure.
bool MailSender::fail(const QString &why)
{
    if (m_failure.isEmpty()) {
        // One line, whatever an address or the server's reply held.
        const QString reason = EventWait::abandoned() ? QStringLiteral("the mail was stopped")
            : m_smtpClient1.lastError().isEmpty()     ? why
                                                      : m_smtpClient1.lastError();
        m_failure = QString::fromStdString(TextRules::blankControls(reason.toStdString())).trimmed();
    }
    m_smtpClient1.Quit();
    return false;
}

void MailSender::Mail_Compose(
    const QString &strRecipients, const QString &strFrom, const QString &strSubject, const QString &strBody)
{
    m_mailMessage1.SetReserved1(0);
    m_mailMessage1.ClearMessage();
    m_mailMessage1.SetTo(strRecipients);
    m_mailMessage1.SetFrom(strFrom);
    m_mailMessage1.SetSubject(strSubject);
    m_mailMessage1.SetText(strBody);
}

bool MailSender::Mail_Connect(const QString &strMailServer)
{
    m_smtpClient1.SetReserved1(0);
    m_smtpClient1.Reset();
    m_intSmtpState = 0;
    m_smtpClient1.SetHostName(strMailServer);
    m_smtpClient1.Connect();

    // Sleeps until the client reports; the window stays live meanwhile.
    const int boundMs = MailBounds::current().greetingMs;
    const QDeadlineTimer bound(boundMs, Qt::PreciseTimer);
    while (m_intSmtpState == 0 && !bound.hasExpired() && !EventWait::abandoned()) {
        EventWait wait(bound);
        wait.finishOn(&m_smtpClient1, &SmtpClientControl::OnConnected);
        wait.stopOn(&m_smtpClient1, &SmtpClientControl::OnError);
        wait.exec();
    }
    if (m_intSmtpState == 1)
        return true;
    return fail(m_smtpClient1.notReady(boundMs));
}

bool MailSender::Mail_Send(const QString &strFrom, const QStringList &recipients)
{
    // The header shows the name; envelope and header carry a real address.
    const bool named = !strFrom.contains(QLatin1Char('@'));
    const QString configured = Utf8::to(TextRules::trimSpaces(Utf8::from(qEnvironmentVariable("OSTREL_MAIL_FROM"))));
    const QString address = !named ? strFrom : !configured.isEmpty() ? configured : m_smtpClient1.defaultSender();
    const bool utf8 = std::any_of(recipients.cbegin(), recipients.cend(), [](const QString &entry) {
        const auto parsed = MailFormat::readAddress(entry);
        return parsed && parsed->needsUtf8();
    });

    m_smtpClient1.SetReserved1(0);
    m_smtpClient1.SetFrom(address);
    m_smtpClient1.SetSmtpUtf8(utf8);
    const int code = m_smtpClient1.BeginMessage();
    if (code != SmtpClientControl::Accepted || EventWait::abandoned()) {
        fail(QStringLiteral("the sender was refused"));
        // The server wants another sender: the user can name one.
        if (code > 0)
            m_failure += QStringLiteral(" (set OSTREL_MAIL_FROM)");
        return false;
    }

    // An empty entry is no address: it adds nobody, and the others still get the
    // mail; a refused one makes the mail report failure all the same.
    bool refused = false;
    for (const QString &entry : recipients) {
        if (TextRules::isBlank(Utf8::from(entry)) || EventWait::abandoned())
            continue;
        try {
            m_smtpClient1.SetRecipient(entry);
        } catch (const SmtpFailure &) {
            refused = true;
        }
    }
    if (EventWait::abandoned())
        return fail(QString());

    TextStore::clear();
    m_mailMessage1.SetSenderAddress(named ? address : QString(), utf8 && m_smtpClient1.offersSmtpUtf8());
    m_mailMessage1.Export();
    QString text = TextStore::read();
    TextStore::clear();

    while (!text.isEmpty()) {
        const int taken = m_smtpClient1.Write(text, SmtpClientControl::kLargestPiece);
        // A write that takes nothing would leave the loop running forever.
        if (taken <= 0 || m_intSmtpState == -1)
            return fail(QStringLiteral("the message could not be sent"));
        text.remove(0, taken);
    }

    if (m_smtpClient1.EndMessage() != SmtpClientControl::Accepted || refused)
        return fail(QStringLiteral("the message was refused"));
    m_smtpClient1.Quit();
    return true;
}
