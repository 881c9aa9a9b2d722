#include "actions/MailSender.h"

#include "actions/MailFormat.h"
#include "actions/TextStore.h"
#include "probes/EventWait.h"
#include "probes/TextRules.h"

#include <QDeadlineTimer>
#include <QScopedValueRollback>
#include <algorithm>

namespace {

// Each step of the mail methods goes on past a failure raised by the
// components; the failure is only noted.
template <typename Step> void attempt(bool &failed, Step &&step)
{
    try {
        step();
    } catch (...) {
        failed = true;
    }
}

} // namespace

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

    const QStringList recipients = MailFormat::splitRecipients(strRecipients);
    if (!Mail_Compose(strRecipients, strFrom, strSubject, strBody, strAttachment))
        return fail(QStringLiteral("the attachment %1 cannot be read").arg(strAttachment));
    if (!Mail_Connect(strMailServer))
        return false;
    return Mail_Send(strFrom, recipients);
}

// Notes the first reason, ends the session (QUIT once the server has
// greeted) and reports failure.
bool MailSender::fail(const QString &why)
{
    if (m_failure.isEmpty()) {
        m_failure = m_smtpClient1.lastError().isEmpty() ? why : m_smtpClient1.lastError();
        // One line, whatever an address or the server's reply held.
        for (QChar &c : m_failure)
            c = c.unicode() < 0x20 || c.unicode() == 0x7f ? QLatin1Char(' ') : c;
        m_failure = m_failure.trimmed();
    }
    m_smtpClient1.Quit();
    return false;
}

bool MailSender::Mail_Compose(const QString &strRecipients, const QString &strFrom, const QString &strSubject,
    const QString &strBody, const QString &strAttachment)
{
    bool failed = false;
    int code = MailMessageControl::Done;
    attempt(failed, [&] {
        m_mailMessage1.SetReserved1(0);
        m_mailMessage1.ClearMessage();
        m_mailMessage1.ClearAttachments();
    });
    attempt(failed, [&] {
        m_mailMessage1.SetTo(strRecipients);
        m_mailMessage1.SetFrom(strFrom);
        m_mailMessage1.SetSubject(strSubject);
        m_mailMessage1.SetText(strBody);
    });
    if (!strAttachment.isEmpty())
        attempt(failed, [&] { code = m_mailMessage1.AttachFile(strAttachment); });
    return code == MailMessageControl::Done && !failed;
}

bool MailSender::Mail_Connect(const QString &strMailServer)
{
    bool failed = false;
    attempt(failed, [&] {
        m_smtpClient1.SetReserved1(0);
        m_smtpClient1.Reset();
    });
    m_intSmtpState = 0;
    attempt(failed, [&] {
        m_smtpClient1.SetHostName(strMailServer);
        m_smtpClient1.Connect();
    });
    if (failed)
        return fail(QStringLiteral("no connection could be started"));

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
    return fail(QStringLiteral("%1 was not ready within %2 s").arg(strMailServer).arg(boundMs / 1000.0));
}

bool MailSender::Mail_Send(const QString &strFrom, const QStringList &recipients)
{
    // The header shows the name; envelope and header carry a real address.
    const bool named = !strFrom.contains(QLatin1Char('@'));
    const QString configured = TextRules::trimSpaces(qEnvironmentVariable("OSTREL_MAIL_FROM"));
    const QString address = !named ? strFrom
        : !configured.isEmpty()    ? configured
                                   : QStringLiteral("ostrel@") + m_smtpClient1.localDomain();
    const bool utf8 = std::any_of(recipients.cbegin(), recipients.cend(), [](const QString &entry) {
        const auto parsed = MailFormat::readAddress(entry);
        return parsed && parsed->needsUtf8();
    });

    bool failed = false;
    int code = SmtpClientControl::Failed;
    attempt(failed, [&] {
        m_smtpClient1.SetReserved1(0);
        m_smtpClient1.SetFrom(address);
        m_smtpClient1.SetSmtpUtf8(utf8);
        code = m_smtpClient1.BeginMessage();
    });
    if (code != 0 || EventWait::abandoned())
        return fail(QStringLiteral("the sender was refused"));

    // An empty entry is no address: it adds nobody, and the others still get the mail.
    for (const QString &entry : recipients) {
        if (!TextRules::isBlank(entry) && !EventWait::abandoned())
            attempt(failed, [&] { m_smtpClient1.SetRecipient(entry); });
    }
    if (EventWait::abandoned())
        return fail(QString());

    TextStore::clear();
    int exported = MailMessageControl::WriteFault;
    attempt(failed, [&] {
        m_mailMessage1.SetSenderAddress(named ? address : QString(), utf8 && m_smtpClient1.offersSmtpUtf8());
        exported = m_mailMessage1.Export(QString());
    });
    if (exported != MailMessageControl::Done)
        return fail(QStringLiteral("the message could not be composed"));
    QString text = TextStore::read();
    TextStore::clear();

    while (!text.isEmpty()) {
        int taken = SmtpClientControl::Failed;
        attempt(failed, [&] { taken = m_smtpClient1.Write(text, kPieceLength); });
        // A write that takes nothing would leave the loop running forever.
        if (taken <= 0 || m_intSmtpState == -1)
            return fail(QStringLiteral("the message could not be sent"));
        text.remove(0, taken);
    }

    int endCode = SmtpClientControl::Failed;
    attempt(failed, [&] { endCode = m_smtpClient1.EndMessage(); });
    const bool result = endCode == 0 && !failed;
    if (!result)
        return fail(QStringLiteral("the message was refused"));
    m_smtpClient1.Quit();
    return true;
}
