#include "actions/MailFormat.h"

#include "common/TextRules.h"
#include "probes/TextRules.h"

#include <QHostAddress>
#include <QRegularExpression>
#include <QUrl>
#include <algorithm>

namespace MailFormat {

namespace {

    const QString kCrLf = QStringLiteral("\r\n");
    constexpr int kFoldColumn = 78;
    // A plain word up to this length stays readable on a line of its own (998 at most).
    constexpr int kLongestWord = 900;
    // Runs of blanks longer than this go out encoded, so no line fills up with them.
    constexpr int kLongestBlankRun = 76;
    // 39 bytes become 52 base64 characters: with "=?UTF-8?B?", "?=" and a header
    // name of up to 12 characters the line stays within 78.
    constexpr int kEncodedWordBytes = 39;
    constexpr int kLongestAddress = 254;

    bool printableAscii(QChar c) { return c.unicode() >= 0x20 && c.unicode() < 0x7f; }

    // A device name that carries CR or LF must never start a header of its own.
    QString blanked(const QString &value)
    {
        return QString::fromStdString(TextRules::blankControls(value.toStdString()));
    }

    // Encoded words (RFC 2047), never splitting a UTF-8 sequence between two.
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

    // Plain text stays readable when no word and no run of blanks is too long.
    bool foldsPlainly(const QString &value)
    {
        if (!std::all_of(value.cbegin(), value.cend(), printableAscii))
            return false;
        qsizetype word = 0;
        qsizetype blanks = 0;
        for (const QChar c : value) {
            const bool blank = c == QLatin1Char(' ');
            word = blank ? 0 : word + 1;
            blanks = blank ? blanks + 1 : 0;
            if (word > kLongestWord || blanks > kLongestBlankRun)
                return false;
        }
        return true;
    }

    // Folds before a blank that precedes a word, so unfolding gives back the
    // value exactly and a continuation line always holds that word.
    QString foldedPlain(qsizetype column, const QString &value)
    {
        QString out;
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

    bool atext(QChar c)
    {
        static const QString specials = QStringLiteral("!#$%&'*+-/=?^_`{|}~");
        return (c.unicode() < 0x80 && c.isLetterOrNumber()) || specials.contains(c) || c.unicode() >= 0x80;
    }

    // A hostname of letters, digits and hyphens with at least one dot.
    bool fullHostName(const QString &name)
    {
        static const QRegularExpression pattern(QStringLiteral("^[A-Za-z0-9-]+(\\.[A-Za-z0-9-]+)+$"));
        return pattern.match(name).hasMatch();
    }

    QString addressLiteral(QHostAddress address)
    {
        address.setScopeId(QString());
        bool mapped = false;
        const quint32 v4 = address.toIPv4Address(&mapped);
        if (mapped)
            address = QHostAddress(v4);
        if (address.protocol() == QAbstractSocket::IPv6Protocol)
            return QStringLiteral("[IPv6:") + address.toString() + QLatin1Char(']');
        return QLatin1Char('[') + address.toString() + QLatin1Char(']');
    }

    // "host", "host:port", "[v6]" or "[v6]:port"; a bare IPv6 address only where allowed.
    bool readHostPort(const QString &text, bool bareIpv6, MailServer &server)
    {
        std::optional<quint16> port = server.port;
        if (text.startsWith(QLatin1Char('['))) {
            const qsizetype close = text.indexOf(QLatin1Char(']'));
            if (close < 0)
                return false;
            const QString rest = text.mid(close + 1);
            server.host = text.mid(1, close - 1);
            if (rest.startsWith(QLatin1Char(':')))
                port = TextRules::toPortNumber(rest.mid(1));
            else if (!rest.isEmpty())
                return false;
        } else if (text.count(QLatin1Char(':')) == 1) {
            const qsizetype colon = text.indexOf(QLatin1Char(':'));
            server.host = text.left(colon);
            port = TextRules::toPortNumber(text.mid(colon + 1));
        } else if (text.contains(QLatin1Char(':')) && !bareIpv6) {
            return false;
        } else {
            server.host = text;
        }
        if (!port || *port == 0 || server.host.isEmpty())
            return false;
        server.port = *port;
        return true;
    }

    // The tokens of a .netrc text; a token may be quoted, with backslash escapes.
    QStringList netrcTokens(const QString &text)
    {
        QStringList tokens;
        qsizetype i = 0;
        while (i < text.size()) {
            if (text.at(i).isSpace()) {
                ++i;
                continue;
            }
            QString token;
            if (text.at(i) == QLatin1Char('"')) {
                for (++i; i < text.size() && text.at(i) != QLatin1Char('"'); ++i) {
                    if (text.at(i) == QLatin1Char('\\') && i + 1 < text.size())
                        ++i;
                    token += text.at(i);
                }
                ++i;
            } else {
                while (i < text.size() && !text.at(i).isSpace())
                    token += text.at(i++);
            }
            tokens << token;
        }
        return tokens;
    }

} // namespace

QString Reply::summary() const
{
    const std::string line = TextRules::blankControls(std::to_string(code) + ' ' + text.toStdString());
    return QString::fromStdString(std::string(TextRules::cutAtCharacter(line, 300))).simplified();
}

std::optional<MailServer> readMailServer(const QString &text)
{
    const QString trimmed = TextRules::trimSpaces(text);
    MailServer server;
    QString rest = trimmed;
    for (const auto &[scheme, security, port] : { std::tuple { QLatin1String("smtps://"), MailServer::Tls, 465 },
             std::tuple { QLatin1String("smtp://"), MailServer::StartTls, 587 } }) {
        if (trimmed.startsWith(scheme, Qt::CaseInsensitive)) {
            server.security = security;
            server.port = static_cast<quint16>(port);
            rest = trimmed.mid(scheme.size());
            if (rest.endsWith(QLatin1Char('/')))
                rest.chop(1);
            const qsizetype at = rest.lastIndexOf(QLatin1Char('@'));
            if (at >= 0) {
                server.user = QUrl::fromPercentEncoding(rest.left(at).toUtf8());
                rest = rest.mid(at + 1);
                if (server.user.isEmpty())
                    return std::nullopt;
            }
            break;
        }
    }
    if (!readHostPort(rest, server.security == MailServer::Plain, server))
        return std::nullopt;
    return server;
}

bool Address::needsUtf8() const
{
    return std::any_of(local.cbegin(), local.cend(), [](QChar c) { return c.unicode() >= 0x80; });
}

std::optional<Address> readAddress(const QString &entry)
{
    const qsizetype at = entry.lastIndexOf(QLatin1Char('@'));
    if (at <= 0 || at == entry.size() - 1)
        return std::nullopt;
    Address address { entry.left(at), entry.mid(at + 1) };
    // A dot-atom: atext, dots only between.
    const bool dotAtom = std::all_of(address.local.cbegin(), address.local.cend(),
                             [](QChar c) { return atext(c) || c == QLatin1Char('.'); })
        && !address.local.startsWith(QLatin1Char('.')) && !address.local.endsWith(QLatin1Char('.'))
        && !address.local.contains(QStringLiteral(".."));
    if (!dotAtom)
        return std::nullopt;
    if (address.domain.startsWith(QLatin1Char('[')) && address.domain.endsWith(QLatin1Char(']'))) {
        if (QHostAddress(address.domain.mid(1, address.domain.size() - 2)).isNull())
            return std::nullopt;
    } else {
        if (!std::all_of(address.domain.cbegin(), address.domain.cend(),
                [](QChar c) { return c.isLetterOrNumber() || c == QLatin1Char('.') || c == QLatin1Char('-'); }))
            return std::nullopt;
        address.domain = QString::fromLatin1(QUrl::toAce(address.domain));
        if (address.domain.isEmpty() || address.domain.contains(QStringLiteral("..")))
            return std::nullopt;
    }
    if (address.text().toUtf8().size() > kLongestAddress)
        return std::nullopt;
    return address;
}

QStringList splitRecipients(const QString &recipients)
{
    QStringList list;
    const QStringList parts = recipients.split(QLatin1Char(','));
    for (qsizetype i = 0; i < parts.size(); ++i) {
        // Blanks after the last comma add no entry.
        if (i == parts.size() - 1 && i > 0 && TextRules::isBlank(parts.at(i)))
            break;
        list << TextRules::trimSpaces(parts.at(i));
    }
    return list;
}

QString mailDomain(const QString &hostName, const QString &localAddress)
{
    const QHostAddress numeric(hostName);
    if (!numeric.isNull())
        return addressLiteral(numeric);
    if (fullHostName(hostName))
        return hostName;
    return addressLiteral(QHostAddress(localAddress));
}

QString headerField(const QString &name, const QString &value)
{
    const QString safe = blanked(value);
    if (foldsPlainly(safe))
        return name + QLatin1Char(':') + foldedPlain(name.size() + 1, safe) + kCrLf;
    return name + QStringLiteral(": ") + encodedWords(safe) + kCrLf;
}

QString addressField(const QString &name, const QStringList &addresses)
{
    if (addresses.isEmpty())
        return name + QStringLiteral(": undisclosed-recipients:;") + kCrLf;
    QString out = name + QLatin1Char(':');
    qsizetype column = out.size();
    for (qsizetype i = 0; i < addresses.size(); ++i) {
        const QString piece = addresses.at(i) + (i + 1 < addresses.size() ? QStringLiteral(",") : QString());
        if (i > 0 && column + 1 + piece.toUtf8().size() > kFoldColumn) {
            out += kCrLf;
            column = 0;
        }
        out += QLatin1Char(' ') + piece;
        column += 1 + piece.toUtf8().size();
    }
    return out + kCrLf;
}

QString mailbox(const QString &displayName, const QString &address)
{
    const QString name = blanked(displayName).simplified();
    QString shown;
    if (name.isEmpty())
        return QLatin1Char('<') + address + QLatin1Char('>');
    if (!std::all_of(name.cbegin(), name.cend(), printableAscii))
        shown = encodedWords(name).replace(kCrLf, QString());
    else if (std::all_of(name.cbegin(), name.cend(), [](QChar c) { return atext(c) || c == QLatin1Char(' '); }))
        shown = name;
    else
        shown = QLatin1Char('"')
            + QString(name)
                  .replace(QLatin1Char('\\'), QStringLiteral("\\\\"))
                  .replace(QLatin1Char('"'), QStringLiteral("\\\""))
            + QLatin1Char('"');
    return shown + QStringLiteral(" <") + address + QLatin1Char('>');
}

QByteArray toWire(QStringView piece, WireState &state)
{
    QString wire;
    wire.reserve(piece.size() + piece.size() / 8 + 2);
    for (const QChar c : piece) {
        if (c == QLatin1Char('\n') && state.afterCr) {
            state.afterCr = false;
            continue;
        }
        state.afterCr = c == QLatin1Char('\r');
        if (c == QLatin1Char('\r') || c == QLatin1Char('\n')) {
            wire += kCrLf;
            state.atLineStart = true;
            continue;
        }
        if (state.atLineStart && c == QLatin1Char('.'))
            wire += QLatin1Char('.');
        wire += c;
        state.atLineStart = false;
    }
    return wire.toUtf8();
}

std::optional<Login> netrcLogin(const QString &netrc, const QString &host, const QString &user)
{
    const QStringList tokens = netrcTokens(netrc);
    std::optional<Login> fallback;
    for (qsizetype i = 0; i < tokens.size();) {
        const QString &keyword = tokens.at(i);
        if (keyword != QLatin1String("machine") && keyword != QLatin1String("default")) {
            ++i;
            continue;
        }
        const bool isDefault = keyword == QLatin1String("default");
        const QString machine = isDefault ? QString() : tokens.value(i + 1);
        i += isDefault ? 1 : 2;
        Login login;
        for (; i + 1 < tokens.size() && tokens.at(i) != QLatin1String("machine")
             && tokens.at(i) != QLatin1String("default");
             i += 2) {
            if (tokens.at(i) == QLatin1String("login"))
                login.user = tokens.at(i + 1);
            else if (tokens.at(i) == QLatin1String("password"))
                login.password = tokens.at(i + 1);
        }
        if (!user.isEmpty() && login.user != user)
            continue;
        if (login.user.isEmpty() || (!isDefault && machine.compare(host, Qt::CaseInsensitive) != 0))
            continue;
        if (!isDefault)
            return login;
        if (!fallback)
            fallback = login;
    }
    return fallback;
}

} // namespace MailFormat
