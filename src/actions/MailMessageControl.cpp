#include "actions/MailMessageControl.h"

#include "actions/MailFormat.h"
#include "actions/TextStore.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>
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

QString base64Lines(const QByteArray &content)
{
    const QByteArray encoded = content.toBase64();
    QString out;
    for (qsizetype start = 0; start < encoded.size(); start += kEncodedLineLength)
        out += QString::fromLatin1(encoded.mid(start, kEncodedLineLength)) + kCrLf;
    return out;
}

// The file name parameter: quoted when plain ASCII, else RFC 2231 UTF-8.
QString fileNameParameter(const QString &fileName)
{
    QString safe = fileName;
    for (QChar &c : safe) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            c = QLatin1Char(' ');
    }
    if (std::all_of(safe.cbegin(), safe.cend(), isPrintableAscii)) {
        QString quoted = safe;
        quoted.replace(QLatin1Char('\\'), QStringLiteral("\\\\")).replace(QLatin1Char('"'), QStringLiteral("\\\""));
        return QStringLiteral("filename=\"") + quoted + QLatin1Char('"');
    }
    return QStringLiteral("filename*=UTF-8''") + QString::fromLatin1(safe.toUtf8().toPercentEncoding());
}

} // namespace

MailMessageControl::MailMessageControl(QObject *parent)
    : QObject(parent)
{
}

// The zero setting has no role here; it is accepted and ignored.
void MailMessageControl::SetReserved1(qint16) { }

int MailMessageControl::ClearMessage()
{
    m_to.clear();
    m_from.clear();
    m_senderAddress.clear();
    m_utf8Headers = false;
    m_subject.clear();
    m_text.clear();
    return Done;
}

int MailMessageControl::ClearAttachments()
{
    m_attachments.clear();
    return Done;
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

int MailMessageControl::AttachFile(const QString &path)
{
    const QFileInfo info(path);
    if (path.isEmpty() || !info.exists() || info.isDir())
        return FileNotFound;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return AccessDenied;
    m_attachments.append({ info.fileName(), file.readAll() });
    return Done;
}

int MailMessageControl::Export(const QString &fileName)
{
    const QString message = render();
    if (fileName.isEmpty()) {
        TextStore::put(message);
        return Done;
    }
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly))
        return AccessDenied;
    file.write(message.toUtf8());
    return file.commit() ? Done : WriteFault;
}

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
    if (m_attachments.isEmpty())
        return message + textHeaders + kCrLf + body.text;

    // A fresh random boundary; base64 and quoted-printable never even hold "=_".
    const QString boundary = QStringLiteral("=_ostrel_") + QUuid::createUuid().toString(QUuid::Id128);
    message += QStringLiteral("Content-Type: multipart/mixed; boundary=\"") + boundary + QLatin1Char('"') + kCrLf
        + kCrLf + QStringLiteral("--") + boundary + kCrLf + textHeaders + kCrLf + body.text;
    for (const Attachment &attachment : m_attachments) {
        message += QStringLiteral("--") + boundary + kCrLf + QStringLiteral("Content-Type: application/octet-stream")
            + kCrLf + QStringLiteral("Content-Disposition: attachment; ") + fileNameParameter(attachment.fileName)
            + kCrLf + QStringLiteral("Content-Transfer-Encoding: base64") + kCrLf + kCrLf
            + base64Lines(attachment.content);
    }
    return message + QStringLiteral("--") + boundary + QStringLiteral("--") + kCrLf;
}
