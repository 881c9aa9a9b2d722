#include "actions/MailMessageControl.h"

#include "actions/TextStore.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>
#include <QUuid>

namespace {

const QString kCrLf = QStringLiteral("\r\n");
// Lines of at most 76 characters for encoded text; header lines are folded
// near 78 and never reach the hard limit of 998.
constexpr int kEncodedLineLength = 76;
constexpr int kFoldColumn = 78;
constexpr int kLongestWord = 900;
constexpr int kLongestLine = 998;
// 39 bytes become 52 base64 characters: with "=?UTF-8?B?", "?=" and the
// longest header name the line stays within 76 characters.
constexpr int kEncodedWordBytes = 39;

bool isPrintableAscii(QChar c)
{
    return (c.unicode() >= 0x20 && c.unicode() < 0x7f) || c == QLatin1Char('\t');
}

// Line breaks and other control characters become blanks: a device name or
// address that carries CR or LF must never start a header of its own.
QString headerSafe(const QString &value)
{
    static const QRegularExpression lineBreak(QStringLiteral("\\r\\n|\\r|\\n"));
    QString safe = value;
    safe.replace(lineBreak, QStringLiteral(" "));
    for (QChar &c : safe) {
        if ((c.unicode() < 0x20 && c != QLatin1Char('\t')) || c.unicode() == 0x7f)
            c = QLatin1Char(' ');
    }
    return safe;
}

// Encoded words (RFC 2047), never splitting a UTF-8 sequence between two words.
QString encodedWords(const QString &value)
{
    const QByteArray utf8 = value.toUtf8();
    QStringList words;
    qsizetype start = 0;
    while (start < utf8.size()) {
        qsizetype end = qMin(start + kEncodedWordBytes, utf8.size());
        while (end < utf8.size() && end > start + 1 && (static_cast<uchar>(utf8.at(end)) & 0xc0) == 0x80)
            --end;
        words << QStringLiteral("=?UTF-8?B?") + QString::fromLatin1(utf8.mid(start, end - start).toBase64())
                + QStringLiteral("?=");
        start = end;
    }
    return words.join(kCrLf + QLatin1Char(' '));
}

// Folds before blanks so that unfolding gives back the value exactly.
QString foldedAscii(const QString &name, const QString &value)
{
    QString out;
    qsizetype column = name.size() + 1;
    bool wordOnLine = false;
    for (const QString &word : value.split(QLatin1Char(' '))) {
        if (wordOnLine && !word.isEmpty() && column + 1 + word.size() > kFoldColumn) {
            out += kCrLf;
            column = 0;
        }
        out += QLatin1Char(' ') + word;
        column += 1 + word.size();
        wordOnLine = wordOnLine || !word.isEmpty();
    }
    return out;
}

QString headerLine(const QString &name, const QString &value)
{
    const QString safe = headerSafe(value);
    static const QRegularExpression blank(QStringLiteral("[ \\t]"));
    bool plain = std::all_of(safe.cbegin(), safe.cend(), isPrintableAscii);
    if (plain) {
        for (const QString &word : safe.split(blank))
            plain = plain && word.size() <= kLongestWord;
    }
    if (plain)
        return name + QLatin1Char(':') + foldedAscii(name, safe) + kCrLf;
    return name + QStringLiteral(": ") + encodedWords(safe) + kCrLf;
}

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
    QString text;   // ends in CR LF
};

// Plain 7-bit text when every line allows it, quoted-printable otherwise.
RenderedBody renderBody(const QString &text)
{
    QStringList lines = bodyLines(text);
    // A text that ends in a line break gets no empty line added.
    if (lines.size() > 1 && lines.constLast().isEmpty())
        lines.removeLast();
    const bool plain = std::all_of(lines.cbegin(), lines.cend(), [](const QString &line) {
        return line.size() <= kLongestLine
            && std::all_of(line.cbegin(), line.cend(), isPrintableAscii);
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
    const QString safe = headerSafe(fileName);
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
void MailMessageControl::SetReserved1(qint16) {}

int MailMessageControl::ClearMessage()
{
    m_to.clear();
    m_from.clear();
    m_subject.clear();
    m_text.clear();
    return Done;
}

int MailMessageControl::ClearAttachments()
{
    m_attachments.clear();
    return Done;
}

void MailMessageControl::SetTo(const QString &recipients)
{
    m_to = recipients;
}

void MailMessageControl::SetFrom(const QString &sender)
{
    m_from = sender;
}

void MailMessageControl::SetSubject(const QString &subject)
{
    m_subject = subject;
}

void MailMessageControl::SetText(const QString &text)
{
    m_text = text;
}

int MailMessageControl::AttachFile(const QString &path)
{
    const QFileInfo info(path);
    if (path.isEmpty() || !info.exists() || info.isDir())
        return FileNotFound;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return AccessDenied;
    m_attachments.append({info.fileName(), file.readAll()});
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
    QString message = headerLine(QStringLiteral("Date"), QDateTime::currentDateTime().toString(Qt::RFC2822Date))
        + headerLine(QStringLiteral("From"), m_from) + headerLine(QStringLiteral("To"), m_to)
        + headerLine(QStringLiteral("Subject"), m_subject) + QStringLiteral("MIME-Version: 1.0") + kCrLf;

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
        message += QStringLiteral("--") + boundary + kCrLf
            + QStringLiteral("Content-Type: application/octet-stream") + kCrLf
            + QStringLiteral("Content-Disposition: attachment; ") + fileNameParameter(attachment.fileName) + kCrLf
            + QStringLiteral("Content-Transfer-Encoding: base64") + kCrLf + kCrLf + base64Lines(attachment.content);
    }
    return message + QStringLiteral("--") + boundary + QStringLiteral("--") + kCrLf;
}
