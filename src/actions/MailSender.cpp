#include "actions/MailSender.h"

#include "actions/TextStore.h"
#include "probes/TextRules.h"

#include <QCoreApplication>
#include <QScopedValueRollback>
#include <QTimer>

namespace {

// Each step of the mail methods goes on past a failure raised by the
// components; the failure is only noted.
template <typename Step>
void attempt(bool &failed, Step &&step)
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

void MailSender::SmtpClient1_OnConnected()
{
    m_intSmtpState = 1;
}

void MailSender::SmtpClient1_OnError(int, const QString &, const QString &)
{
    m_intSmtpState = -1;
}

QStringList MailSender::recipientList(const QString &strRecipients, const std::function<void()> &yield)
{
    QStringList list{QString()};
    qsizetype count = 0;
    QString remaining = strRecipients;
    for (;;) {
        const qsizetype comma = remaining.indexOf(QLatin1Char(','));
        if (comma >= 0) {
            const QString entry = TextRules::trimSpaces(remaining.left(comma));
            if (count < list.size())
                list[count] = entry;
            else
                list.append(entry);
            remaining = remaining.mid(comma + 1);
            ++count;
        }
        if (yield)
            yield();
        if (comma < 0)
            break;
    }
    if (!TextRules::isBlank(remaining)) {
        if (count < list.size())
            list[count] = TextRules::trimSpaces(remaining);
        else
            list.append(TextRules::trimSpaces(remaining));
    }
    return list;
}

bool MailSender::SMTPSEND(const QString &strMailServer, const QString &strFrom, const QString &strSubject,
                          const QString &strBody, const QString &strAttachment, const QString &strRecipients)
{
    // The waits process events, so a second mail could start from inside the
    // first one; it would share the components and their state, so it is refused.
    if (m_sending)
        return false;
    const QScopedValueRollback<bool> sending(m_sending, true);

    const QStringList recipients = recipientList(strRecipients, [] { QCoreApplication::processEvents(); });
    if (!Mail_Compose(strRecipients, strFrom, strSubject, strBody, strAttachment))
        return false;
    if (!Mail_Connect(strMailServer))
        return false;
    return Mail_Send(strFrom, recipients);
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
        return false;

    // Sleeps until an event comes (a notification, the socket, the window, the
    // bound's timer) instead of spinning; events are processed all along.
    QTimer bound;
    bound.setSingleShot(true);
    // A coarse timer may fire up to half a second early.
    bound.setTimerType(Qt::PreciseTimer);
    bound.start(kConnectBoundMs);
    while (m_intSmtpState == 0 && bound.isActive())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    return m_intSmtpState == 1;
}

bool MailSender::Mail_Send(const QString &strFrom, const QStringList &recipients)
{
    bool failed = false;
    int code = SmtpClientControl::Failed;
    attempt(failed, [&] {
        m_smtpClient1.SetReserved1(0);
        m_smtpClient1.SetFrom(strFrom);
        code = m_smtpClient1.BeginMessage();
    });
    if (code != 0)
        return false;

    // An empty entry is no address: it adds nobody, and the others still get the mail.
    for (const QString &entry : recipients) {
        if (!TextRules::isBlank(entry))
            attempt(failed, [&] { m_smtpClient1.SetRecipient(entry); });
    }

    TextStore::clear();
    int exported = MailMessageControl::WriteFault;
    attempt(failed, [&] { exported = m_mailMessage1.Export(QString()); });
    if (exported != MailMessageControl::Done)
        return false;
    QString text = TextStore::read();
    TextStore::clear();

    while (!text.isEmpty()) {
        int taken = SmtpClientControl::Failed;
        attempt(failed, [&] { taken = m_smtpClient1.Write(text, kPieceLength); });
        // A write that takes nothing would leave the loop running forever.
        if (taken <= 0 || m_intSmtpState == -1)
            return false;
        text.remove(0, taken);
    }

    int endCode = SmtpClientControl::Failed;
    attempt(failed, [&] { endCode = m_smtpClient1.EndMessage(); });
    const bool result = endCode == 0 && !failed;
    attempt(failed, [&] { m_smtpClient1.Quit(); });
    return result;
}
