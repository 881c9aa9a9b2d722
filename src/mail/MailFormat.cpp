#include "mail/MailFormat.h"

#include "base/TextRules.h"
#include "qt/Utf8.h"

#include <QHostAddress>
#include <QUrl>
#include <algorithm>
#include <cctype>
#include <vector>

namespace MailFormat {

namespace {

    const QString kCrLf = QStringLiteral("\r\n");
    constexpr int kFoldColumn = 78;
    constexpr int kLongestLine = 998;
    // 39 bytes become 52 base64 characters: with "=?UTF-8?B?", "?=" and a header
    // name of up to 12 characters the line stays within 78.
    constexpr int kEncodedWordBytes = 39;
    // A display name longer than this goes out encoded, folded between its words.
    constexpr int kLongestPlainName = 64;
    constexpr int kLongestLocalPart = 64;
    constexpr int kLongestAddress = 254;

    bool printableAscii(QChar c) { return c.unicode() >= 0x20 && c.unicode() < 0x7f; }
    bool letterOrDigit(QChar c) { return c.unicode() < 0x80 && c.isLetterOrNumber(); }
    bool allOf(QStringView text, bool (*test)(QChar)) { return std::all_of(text.cbegin(), text.cend(), test); }

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

    // Leading or trailing blank runs and very long words can outgrow a line.
    bool linesFit(const QString &field)
    {
        const QStringList lines = field.split(kCrLf);
        return std::all_of(
            lines.cbegin(), lines.cend(), [](const QString &line) { return line.size() <= kLongestLine; });
    }

    // Snum "." Snum "." Snum "." Snum, each one to three digits up to 255 (RFC 5321).
    bool isIpv4(QStringView text)
    {
        const auto parts = text.split(QLatin1Char('.'));
        return parts.size() == 4 && std::all_of(parts.cbegin(), parts.cend(), [](QStringView part) {
            return !part.isEmpty() && part.size() <= 3
                && allOf(part, [](QChar c) { return c.unicode() < 0x80 && c.isDigit(); }) && part.toInt() <= 255;
        });
    }

    // The 16-bit groups on one side of "::", an IPv4 tail counting two where
    // allowed; -1 when a group is no 1 to 4 hexadecimal digits.
    int ipv6Groups(QStringView side, bool ipv4Tail)
    {
        if (side.isEmpty())
            return 0;
        const auto groups = side.split(QLatin1Char(':'));
        int count = 0;
        for (qsizetype i = 0; i < groups.size(); ++i) {
            const QStringView group = groups.at(i);
            if (ipv4Tail && i == groups.size() - 1 && group.contains(QLatin1Char('.'))) {
                if (!isIpv4(group))
                    return -1;
                count += 2;
            } else if (!group.isEmpty() && group.size() <= 4
                && allOf(group, [](QChar c) { return c.unicode() < 0x80 && std::isxdigit(c.unicode()); })) {
                ++count;
            } else {
                return -1;
            }
        }
        return count;
    }

    // IPv6-addr of RFC 5321: eight groups, or at most six beside "::"; no zone.
    bool isIpv6(QStringView text)
    {
        const qsizetype gap = text.indexOf(QLatin1String("::"));
        if (gap < 0)
            return ipv6Groups(text, true) == 8;
        const int before = ipv6Groups(text.left(gap), false);
        const int after = ipv6Groups(text.mid(gap + 2), true);
        return before >= 0 && after >= 0 && before + after <= 6;
    }

    // Sub-domains of letters, digits and inner hyphens, joined by dots; the
    // last one not all digits, so no dotted number passes for a name.
    bool isHostName(QStringView name)
    {
        if (name.isEmpty() || name.size() > 255)
            return false;
        const auto labels = name.split(QLatin1Char('.'));
        const bool labelsFit = std::all_of(labels.cbegin(), labels.cend(), [](QStringView label) {
            return !label.isEmpty() && label.size() <= 63 && letterOrDigit(label.front()) && letterOrDigit(label.back())
                && allOf(label, [](QChar c) { return letterOrDigit(c) || c == QLatin1Char('-'); });
        });
        return labelsFit && !allOf(labels.constLast(), [](QChar c) { return c.isDigit(); });
    }

    bool isFullName(QStringView name) { return isHostName(name) && name.contains(QLatin1Char('.')); }

    // A domain as it goes out: its ASCII (IDNA) form; "" when it is none.
    QString aceDomain(const QString &text)
    {
        // Only letters, digits, hyphens and dots go to IDNA; what comes back is checked again.
        if (!allOf(
                text, [](QChar c) { return c.isLetterOrNumber() || c == QLatin1Char('-') || c == QLatin1Char('.'); }))
            return {};
        const QString ace = QString::fromLatin1(QUrl::toAce(text));
        return isHostName(ace) ? ace : QString();
    }

    // "[IPv4]" or "[IPv6:...]"; the tag is needed, as RFC 5321 writes it.
    bool isAddressLiteral(QStringView text)
    {
        if (!text.startsWith(QLatin1Char('[')) || !text.endsWith(QLatin1Char(']')))
            return false;
        const QStringView inside = text.mid(1, text.size() - 2);
        if (inside.startsWith(QLatin1String("IPv6:"), Qt::CaseInsensitive))
            return isIpv6(inside.mid(5));
        return isIpv4(inside);
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

    // atext, and beyond ASCII any printable character that is no blank (RFC 6531).
    bool atext(char32_t c)
    {
        if (c < 0x80)
            return letterOrDigit(QChar(c)) || QStringView(u"!#$%&'*+-/=?^_`{|}~").contains(QChar(c));
        return QChar::isPrint(c) && !QChar::isSpace(c) && c != QChar::ReplacementCharacter;
    }

    // Dot-string: atoms of atext with single dots between them.
    bool isDotString(const QString &local)
    {
        if (local.isEmpty() || local.startsWith(QLatin1Char('.')) || local.endsWith(QLatin1Char('.'))
            || local.contains(QLatin1String("..")))
            return false;
        for (qsizetype i = 0; i < local.size(); ++i) {
            char32_t c = local.at(i).unicode();
            if (local.at(i).isHighSurrogate() && i + 1 < local.size() && local.at(i + 1).isLowSurrogate())
                c = QChar::surrogateToUcs4(local.at(i), local.at(i + 1)), ++i;
            if (c != '.' && !atext(c))
                return false;
        }
        return true;
    }

    // The server's host as it is reached; "" when the text is none.
    QString serverHost(const QString &text, bool bracketed, bool bareIpv6)
    {
        if (isIpv4(text)) {
            // A leading zero is no octal sign here, as for the device.
            QStringList parts;
            for (const QStringView part : QStringView(text).split(QLatin1Char('.')))
                parts << QString::number(part.toInt());
            return parts.join(QLatin1Char('.'));
        }
        if (isIpv6(text))
            return bracketed || bareIpv6 ? text : QString();
        return bracketed ? QString() : aceDomain(text);
    }

    // "host", "host:port", "[v6]" or "[v6]:port"; a bare IPv6 address only where allowed.
    bool readHostPort(const QString &text, bool bareIpv6, MailServer &server)
    {
        std::optional<quint16> port = server.port;
        QString host = text;
        const bool bracketed = text.startsWith(QLatin1Char('['));
        if (bracketed) {
            const qsizetype close = text.indexOf(QLatin1Char(']'));
            if (close < 0)
                return false;
            const QString rest = text.mid(close + 1);
            host = text.mid(1, close - 1);
            if (rest.startsWith(QLatin1Char(':')))
                port = TextRules::toPortNumber(Utf8::from(rest.mid(1)));
            else if (!rest.isEmpty())
                return false;
        } else if (text.count(QLatin1Char(':')) == 1) {
            const qsizetype colon = text.indexOf(QLatin1Char(':'));
            host = text.left(colon);
            port = TextRules::toPortNumber(Utf8::from(text.mid(colon + 1)));
        }
        server.host = serverHost(host, bracketed, bareIpv6);
        if (!port || *port == 0 || server.host.isEmpty())
            return false;
        server.port = *port;
        return true;
    }

    // The words of a .netrc text as curl and ftp take them: blank-separated,
    // or quoted with backslash escapes; "#" at a word's start comments out the
    // rest of its line.
    class NetrcReader {
    public:
        struct Token {
            QString text;
            bool quoted = false;
            bool is(const char *keyword) const { return !quoted && text == QLatin1String(keyword); }
            bool startsEntry() const { return is("machine") || is("default"); }
        };

        explicit NetrcReader(const QString &text)
            : m_text(text)
        {
        }

        bool brokenQuote = false;

        std::optional<Token> next()
        {
            for (;;) {
                while (m_at < m_text.size() && m_text.at(m_at).isSpace())
                    ++m_at;
                if (m_at >= m_text.size())
                    return std::nullopt;
                if (m_text.at(m_at) != QLatin1Char('#'))
                    break;
                m_at = m_text.indexOf(QLatin1Char('\n'), m_at);
                if (m_at < 0)
                    m_at = m_text.size();
            }
            Token token;
            token.quoted = m_text.at(m_at) == QLatin1Char('"');
            if (!token.quoted) {
                while (m_at < m_text.size() && !m_text.at(m_at).isSpace())
                    token.text += m_text.at(m_at++);
                return token;
            }
            for (++m_at; m_at < m_text.size() && m_text.at(m_at) != QLatin1Char('"'); ++m_at) {
                if (m_text.at(m_at) == QLatin1Char('\\') && m_at + 1 < m_text.size())
                    ++m_at;
                token.text += m_text.at(m_at);
            }
            brokenQuote = brokenQuote || m_at >= m_text.size();
            ++m_at;
            return token;
        }

        // A macro's text: the rest of its "macdef" line and every line up to an empty one.
        void skipMacro()
        {
            qsizetype end = m_text.indexOf(QLatin1Char('\n'), m_at);
            while (end >= 0) {
                const qsizetype next = m_text.indexOf(QLatin1Char('\n'), end + 1);
                const QStringView line = QStringView(m_text).mid(end + 1, (next < 0 ? m_text.size() : next) - end - 1);
                if (next >= 0 && (line.isEmpty() || line == QLatin1String("\r"))) {
                    m_at = next;
                    return;
                }
                end = next;
            }
            m_at = m_text.size();
        }

    private:
        const QString &m_text;
        qsizetype m_at = 0;
    };

} // namespace

QString Reply::summary() const
{
    const std::string line = TextRules::blankControls(std::to_string(code) + ' ' + text.toStdString());
    return QString::fromStdString(std::string(TextRules::cutAtCharacter(line, 300))).simplified();
}

std::optional<MailServer> readMailServer(const QString &text)
{
    const QString trimmed = Utf8::to(TextRules::trimSpaces(Utf8::from(text)));
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
                if (server.user.isEmpty() || blanked(server.user) != server.user)
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
    if (at <= 0)
        return std::nullopt;
    Address address { entry.left(at), entry.mid(at + 1) };
    if (!isDotString(address.local) || address.local.toUtf8().size() > kLongestLocalPart)
        return std::nullopt;
    if (!isAddressLiteral(address.domain))
        address.domain = aceDomain(address.domain);
    else if (address.domain.startsWith(QLatin1String("[IPv6:"), Qt::CaseInsensitive))
        address.domain.replace(1, 5, QStringLiteral("IPv6:")); // the tag as servers expect it
    if (address.domain.isEmpty() || address.text().toUtf8().size() > kLongestAddress)
        return std::nullopt;
    return address;
}

QStringList splitRecipients(const QString &recipients)
{
    QStringList list;
    const QStringList parts = recipients.split(QLatin1Char(','));
    for (qsizetype i = 0; i < parts.size(); ++i) {
        // Blanks after the last comma add no entry.
        if (i == parts.size() - 1 && i > 0 && TextRules::isBlank(Utf8::from(parts.at(i))))
            break;
        list << Utf8::to(TextRules::trimSpaces(Utf8::from(parts.at(i))));
    }
    return list;
}

QString mailDomain(const QString &hostName, const QString &localAddress)
{
    const QHostAddress numeric(hostName);
    if (!numeric.isNull())
        return addressLiteral(numeric);
    if (isFullName(hostName))
        return hostName;
    return addressLiteral(QHostAddress(localAddress));
}

QString defaultSender(
    const QString &login, const QString &mailName, const QString &hostName, const QString &localAddress)
{
    QStringList candidates { login };
    const QString mailDomainName = mailName.section(QLatin1Char('\n'), 0, 0).trimmed();
    if (isFullName(mailDomainName))
        candidates << QStringLiteral("ostrel@") + mailDomainName;
    // The host's name, full or, where there is no domain at all, bare.
    if (isHostName(hostName))
        candidates << QStringLiteral("ostrel@") + hostName;
    // A name too long for an address (254 octets) gives way to the next, and last to the address literal.
    candidates << QStringLiteral("ostrel@") + addressLiteral(QHostAddress(localAddress));
    for (const QString &candidate : candidates) {
        if (const auto address = readAddress(candidate))
            return address->text();
    }
    return candidates.constLast();
}

QString headerField(const QString &name, const QString &value)
{
    const QString safe = blanked(value);
    if (allOf(safe, printableAscii)) {
        const QString folded = name + QLatin1Char(':') + foldedPlain(name.size() + 1, safe);
        if (linesFit(folded))
            return folded + kCrLf;
    }
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
    if (name.isEmpty())
        return QLatin1Char('<') + address + QLatin1Char('>');
    QString shown;
    if (!allOf(name, printableAscii) || name.size() > kLongestPlainName)
        shown = encodedWords(name);
    else if (allOf(name, [](QChar c) { return c == QLatin1Char(' ') || (c.unicode() < 0x80 && atext(c.unicode())); }))
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
    struct Entry {
        bool isDefault = false;
        QString machine;
        std::optional<QString> login, password;
    };
    std::vector<Entry> entries;
    NetrcReader reader(netrc);
    auto token = reader.next();
    while (token) {
        if (token->startsEntry()) {
            entries.push_back({ token->is("default"), {}, {}, {} });
            const bool named = token->is("machine");
            token = reader.next();
            if (named && token && !token->startsEntry()) {
                entries.back().machine = token->text;
                token = reader.next();
            }
            continue;
        }
        const bool login = token->is("login"), password = token->is("password");
        const bool valued = login || password || token->is("account") || token->is("macdef");
        const bool macro = token->is("macdef");
        token = reader.next();
        // A keyword without its value leaves the next entry whole.
        if (!valued || !token || token->startsEntry())
            continue;
        if (macro)
            reader.skipMacro();
        else if (!entries.empty() && (login || password))
            (login ? entries.back().login : entries.back().password) = token->text;
        token = reader.next();
    }
    if (reader.brokenQuote)
        return std::nullopt;
    for (const Entry &entry : entries) {
        if (!entry.isDefault && entry.machine.compare(host, Qt::CaseInsensitive) != 0)
            continue;
        if (!user.isEmpty() && entry.login != user)
            continue;
        // The first entry for the host decides, even when it lacks a part.
        if (!entry.login || entry.login->isEmpty() || !entry.password)
            return std::nullopt;
        return Login { *entry.login, *entry.password };
    }
    return std::nullopt;
}

} // namespace MailFormat
