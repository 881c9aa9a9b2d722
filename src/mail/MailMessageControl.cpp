#include "mail/MailMessageControl.h"

#include "mail/MailFormat.h"
#include "mail/TextStore.h"

#include <QDateTime>
#include <QRegularExpression>
#include <QUuid>

namespace {

const QString kCrLf = QStringLiteral("\r\n");
// Lines of at most 76 characters for encoded text; a body line of plain
// text may reach the hard limit of 998.
constexpr int kEncodedLineLength = 76;
constexpr int kLongestLine = 998;

bool isPrintableAscii(QChar c) { return (c.unicode() >= 0x20 && c.unicode() < 0x7f) || c == QLatin1Char('\t'); }

QStringList bodyLines(const QString &text)
{
    static const QRegularExpression lineBreak(QStringLiteral("\\r\\n|\\r|\\n"));
    return text.split(lineBreak);
}

// Quoted-printable (RFC 2045) of one line, soft breaks keeping every line within 76.
QString quotedPrintableLine(const QString &line)
{
    const QByteArray bytes = line.toUtf8();
    QString out;
    qsizetype column = 0;
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const uchar byte = static_cast<uchar>(bytes.at(i));
        const bool last = i == bytes.size() - 1;
        const bool literal = (byte >= 33 && byte <= 126 && byte != '=') || ((byte == ' ' || byte == '\t') && !last);
        const QString token = literal ? QString(QLatin1Char(char(byte)))
                                      : QStringLiteral("=%1").arg(byte, 2, 16, QLatin1Char('0')).toUpper();
        // Room for the "=" of a soft break unless this is the line's last token.
        const qsizetype room = last ? kEncodedLineLength : kEncodedLineLength - 1;
        if (column + token.size() > room) {
            out += QLatin1Char('=') + kCrLf;
            column = 0;
        }
        out += token;
        column += token.size();
    }
    return out;
}

struct RenderedBody {
    QString encoding;
    QString text; // ends in CR LF
};

// Plain 7-bit text when every line allows it, quoted-printable otherwise.
RenderedBody renderBody(const QString &text)
{
    QStringList lines = bodyLines(text);
    // A text that ends in a line break gets no empty line added.
    if (lines.size() > 1 && lines.constLast().isEmpty())
        lines.removeLast();
    const bool plain = std::all_of(lines.cbegin(), lines.cend(), [](const QString &line) {
        return line.size() <= kLongestLine && std::all_of(line.cbegin(), line.cend(), isPrintableAscii);
    });
    RenderedBody body;
    body.encoding = plain ? QStringLiteral("7bit") : QStringLiteral("quoted-printable");
    for (const QString &line : lines)
        body.text += (plain ? line : quotedPrintableLine(line)) + kCrLf;
    return body;
}

} // namespace

MailMessageControl::MailMessageControl(QObject *parent)
    : QObject(parent)
{
}

// The zero setting has no role here; it is accepted and ignored.
void MailMessageControl::SetReserved1(qint16) { }

void MailMessageControl::ClearMessage()
{
    m_to.clear();
    m_from.clear();
    m_senderAddress.clear();
    m_utf8Headers = false;
    m_subject.clear();
    m_text.clear();
}

void MailMessageControl::SetTo(const QString &recipients) { m_to = recipients; }

void MailMessageControl::SetFrom(const QString &sender) { m_from = sender; }

void MailMessageControl::SetSenderAddress(const QString &address, bool utf8Headers)
{
    m_senderAddress = address;
    m_utf8Headers = utf8Headers;
}

void MailMessageControl::SetSubject(const QString &subject) { m_subject = subject; }

void MailMessageControl::SetText(const QString &text) { m_text = text; }

void MailMessageControl::Export() { TextStore::put(render()); }

QString MailMessageControl::render() const
{
    // Only addresses go into To; one that needs SMTPUTF8 only where the server takes it.
    QStringList to;
    for (const QString &entry : MailFormat::splitRecipients(m_to)) {
        const auto address = MailFormat::readAddress(entry);
        if (address && (m_utf8Headers || !address->needsUtf8()))
            to << address->text();
    }
    const qsizetype at = m_senderAddress.lastIndexOf(QLatin1Char('@'));
    const QString domain = at >= 0 ? m_senderAddress.mid(at + 1) : QStringLiteral("localhost");
    QString message
        = MailFormat::headerField(QStringLiteral("Date"), QDateTime::currentDateTime().toString(Qt::RFC2822Date))
        + (m_senderAddress.isEmpty() ? MailFormat::headerField(QStringLiteral("From"), m_from)
                                     : QStringLiteral("From: ") + MailFormat::mailbox(m_from, m_senderAddress) + kCrLf)
        + MailFormat::addressField(QStringLiteral("To"), to)
        + MailFormat::headerField(QStringLiteral("Subject"), m_subject) + QStringLiteral("Message-ID: <")
        + QUuid::createUuid().toString(QUuid::WithoutBraces) + QLatin1Char('@') + domain + QLatin1Char('>') + kCrLf
        + QStringLiteral("MIME-Version: 1.0") + kCrLf;

    const RenderedBody body = renderBody(m_text);
    const QString textHeaders = QStringLiteral("Content-Type: text/plain; charset=UTF-8") + kCrLf
        + QStringLiteral("Content-Transfer-Encoding: ") + body.encoding + kCrLf;
    return message + textHeaders + kCrLf + body.text;
}
