#include "entry/CallingSequence.h"

#include "probes/TextRules.h"
#include "probes/modIP32.h"

#include <QStringList>

using TextRules::trimSpaces;

namespace {

// The text left to read, cut field by field at its first comma.
class Remaining {
public:
    explicit Remaining(QString text)
        : m_text(std::move(text))
    {
    }

    bool isEmpty() const { return m_text.isEmpty(); }
    bool hasComma() const { return m_text.contains(QLatin1Char(',')); }
    const QString &text() const { return m_text; }

    QString cut()
    {
        const qsizetype comma = m_text.indexOf(QLatin1Char(','));
        const QString field = m_text.left(comma);
        m_text = m_text.mid(comma + 1);
        return field;
    }

    // Timeout, command and argument: the last field stays as typed, a field
    // before a comma is trimmed, and nothing left leaves the value empty.
    // True when this was the last field.
    bool readOptional(QString &value)
    {
        if (isEmpty())
            return false;
        if (!hasComma()) {
            value = m_text;
            return true;
        }
        value = trimSpaces(cut());
        return false;
    }

private:
    QString m_text;
};

bool startsWithP(const QString &text) { return !text.isEmpty() && text.at(0).toUpper() == QLatin1Char('P'); }

} // namespace

namespace CallingSequence {

std::optional<CheckRequest> read(
    const QString &argumentText, const AddressResolver &resolve, const std::function<void()> &yield)
{
    const auto pass = [&yield] {
        if (yield)
            yield();
    };
    CheckRequest request;
    Remaining rest(argumentText);

    if (!rest.hasComma())
        return std::nullopt;
    request.strDeviceName = trimSpaces(rest.cut());
    if (request.strDeviceName.isEmpty())
        return std::nullopt;

    request.strAddress
        = modIP32::Is_IPAddress(request.strDeviceName) ? request.strDeviceName : resolve(request.strDeviceName);
    pass();

    if (!rest.hasComma())
        return std::nullopt;
    request.strPort = trimSpaces(rest.cut());
    if (request.strPort.isEmpty())
        return std::nullopt;

    const bool timeoutWasLast = rest.readOptional(request.strTimeout);
    if (request.strTimeout.isEmpty())
        return std::nullopt;
    if (timeoutWasLast)
        return request;

    if (!rest.isEmpty()) {
        request.bolPass = startsWithP(rest.text());
        if (!rest.hasComma())
            return request;
        rest.cut();
    }

    if (rest.readOptional(request.strCommand) || rest.readOptional(request.strArgument))
        return request;

    if (!rest.hasComma())
        return std::nullopt;
    request.strMailServer = trimSpaces(rest.cut());
    if (request.strMailServer.isEmpty())
        return request;
    if (TextRules::isBlank(rest.text()))
        return std::nullopt;

    QStringList recipients;
    while (rest.hasComma()) {
        recipients << trimSpaces(rest.cut());
        pass();
    }
    if (!TextRules::isBlank(rest.text()))
        recipients << trimSpaces(rest.text());
    request.strRecipients = recipients.join(QLatin1Char(','));
    return request;
}

} // namespace CallingSequence
