#include "app/CallingSequence.h"

#include "base/TextRules.h"

using TextRules::trimSpaces;

namespace {

// The text left to read, cut field by field at its first comma; the text
// itself is never copied.
class Remaining {
public:
    explicit Remaining(std::string_view text)
        : m_text(text)
    {
    }

    bool isEmpty() const { return m_text.empty(); }
    bool hasComma() const { return m_text.find(',') != std::string_view::npos; }
    std::string_view text() const { return m_text; }

    std::string_view cut()
    {
        const size_t comma = m_text.find(',');
        const std::string_view field = m_text.substr(0, comma);
        m_text.remove_prefix(comma + 1);
        return field;
    }

    // Timeout, command and argument: the last field as typed, a field before
    // a comma trimmed, nothing left leaves the value empty. True when this
    // was the last field.
    bool readOptional(std::string &value)
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
    std::string_view m_text;
};

} // namespace

namespace CallingSequence {

std::variant<CheckRequest, Rejected> read(std::string_view argumentText, const Resolver &resolve)
{
    CheckRequest request;
    Remaining rest(argumentText);
    const auto rejected = [](std::string why) { return Rejected { std::move(why) }; };

    if (!rest.hasComma())
        return rejected("the port and the timeout are missing; fields are separated by commas");
    request.strDeviceName = trimSpaces(rest.cut());
    if (request.strDeviceName.empty())
        return rejected("the device name is empty");

    if (auto known = Addresses::withoutLookUp(request.strDeviceName))
        request.addresses = std::move(*known);
    else
        request.addresses = resolve(request.strDeviceName);

    if (!rest.hasComma())
        return rejected(
            TextRules::isBlank(rest.text()) ? "the port and the timeout are missing" : "the timeout is missing");
    request.strPort = trimSpaces(rest.cut());
    if (request.strPort.empty())
        return rejected("the port is empty");

    const bool timeoutWasLast = rest.readOptional(request.strTimeout);
    if (request.strTimeout.empty())
        return rejected("the timeout is empty");
    if (timeoutWasLast)
        return request;

    // Only the first letter counts, blanks before it skipped: " PASS" is PASS.
    const std::string_view trigger = rest.text().substr(0, rest.text().find(','));
    const size_t letter = trigger.find_first_not_of(' ');
    request.bolPass = letter != std::string_view::npos && (trigger[letter] == 'p' || trigger[letter] == 'P');
    const char *lastField = "timeout";
    if (!rest.isEmpty()) {
        if (!rest.hasComma())
            return request;
        rest.cut();
        lastField = "trigger";
    }

    if (!rest.isEmpty())
        lastField = "command";
    // Blanks around the command are never part of its name, last field or not.
    if (rest.readOptional(request.strCommand)) {
        request.strCommand = trimSpaces(request.strCommand);
        return request;
    }
    if (!rest.isEmpty())
        lastField = "argument";
    if (rest.readOptional(request.strArgument))
        return request;

    if (!rest.hasComma())
        return rejected(rest.isEmpty() ? std::string("a comma ends the sequence after the ") + lastField
                                       : "the mail server is not followed by a recipient");
    request.strMailServer = trimSpaces(rest.cut());
    if (request.strMailServer.empty())
        return request;
    if (TextRules::isBlank(rest.text()))
        return rejected("the mail server is not followed by a recipient");

    while (rest.hasComma()) {
        request.strRecipients += trimSpaces(rest.cut());
        request.strRecipients += ',';
    }
    if (!TextRules::isBlank(rest.text()))
        request.strRecipients += trimSpaces(rest.text());
    else
        request.strRecipients.pop_back(); // a trailing comma adds no empty entry
    return request;
}

} // namespace CallingSequence
