// The message's texts: a header field is one field of lines within 998 octets, folded only
// before a blank and read back unfolded as given; the message text goes out as CR LF lines
// with a leading dot doubled, whatever pieces it comes in; and .netrc answers for the
// machine asked, never with another entry's login.
#include "Fuzz.h"
#include "actions/MailFormat.h"
#include "common/TextRules.h"

#include <QRegularExpression>

namespace {

// A field's lines, checked, joined as a reader unfolds them.
QString unfolded(const QString &field)
{
    FUZZ_CHECK(field.endsWith(QLatin1String("\r\n")));
    const QStringList lines = field.chopped(2).split(QLatin1String("\r\n"));
    for (qsizetype i = 0; i < lines.size(); ++i) {
        FUZZ_CHECK(lines[i].toUtf8().size() <= 998 && !lines[i].contains('\r') && !lines[i].contains('\n'));
        FUZZ_CHECK(i == 0 || (lines[i].startsWith(' ') && !lines[i].trimmed().isEmpty()));
    }
    return lines.join(QString());
}

bool same(const std::optional<MailFormat::Login> &a, const std::optional<MailFormat::Login> &b)
{
    return a.has_value() == b.has_value() && (!a || (a->user == b->user && a->password == b->password));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data) + 1, qsizetype(size - 1));
    if (data[0] % 4 == 0) {
        const QString field = unfolded(MailFormat::headerField(QStringLiteral("Subject"), text));
        if (!field.contains(QLatin1String("=?")))
            FUZZ_CHECK(field == "Subject: " + QString::fromStdString(TextRules::blankControls(text.toStdString())));
        unfolded("From: " + MailFormat::mailbox(text, QStringLiteral("ostrel@vm")) + "\r\n");
    } else if (data[0] % 4 == 1) {
        QStringList addresses;
        for (const QString &entry : MailFormat::splitRecipients(text)) {
            if (const auto address = MailFormat::readAddress(entry))
                addresses << address->text();
        }
        FUZZ_CHECK(unfolded(MailFormat::addressField(QStringLiteral("To"), addresses))
            == "To: " + (addresses.isEmpty() ? QStringLiteral("undisclosed-recipients:;") : addresses.join(", ")));
    } else if (data[0] % 4 == 2) {
        // In pieces as the client writes them, never parting a surrogate pair.
        MailFormat::WireState whole, inPieces;
        const QByteArray wire = MailFormat::toWire(text, whole);
        QByteArray pieces;
        for (qsizetype at = 0, end; at < text.size(); at = end) {
            end = std::min(text.size(), at + 1 + data[0] / 4 % 8);
            end += end < text.size() && text[end - 1].isHighSurrogate();
            pieces += MailFormat::toWire(QStringView(text).mid(at, end - at), inPieces);
        }
        FUZZ_CHECK(pieces == wire);
        const QStringList in = text.split(QRegularExpression(QStringLiteral("\r\n|\r|\n")));
        const QStringList out = QString::fromUtf8(wire).split(QLatin1String("\r\n"));
        FUZZ_CHECK(in.size() == out.size());
        for (qsizetype i = 0; i < in.size(); ++i)
            FUZZ_CHECK(out[i] == (in[i].startsWith('.') ? "." + in[i] : in[i]));
    } else {
        // The first line names the machine asked for; an unrelated entry before or after changes nothing.
        const QString host = text.section('\n', 0, 0), netrc = text.section('\n', 1);
        const QString other = QStringLiteral("machine ostrel-other.invalid login u password p\n");
        const auto login = MailFormat::netrcLogin(netrc, host, {});
        if (!host.isEmpty() && host.compare(QLatin1String("ostrel-other.invalid"), Qt::CaseInsensitive) != 0) {
            FUZZ_CHECK(same(MailFormat::netrcLogin(other + netrc, host, {}), login));
            FUZZ_CHECK(same(MailFormat::netrcLogin(netrc + "\n" + other, host, {}), login));
        }
        FUZZ_CHECK(!login || netrc.contains(QLatin1String("machine")) || netrc.contains(QLatin1String("default")));
    }
    return 0;
}
