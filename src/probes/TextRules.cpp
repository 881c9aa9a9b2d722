#include "probes/TextRules.h"

#include "common/TextRules.h"

// The rules themselves live in common/TextRules; these read and give QStrings.
namespace TextRules {

namespace {

    std::string utf8(const QString &text) { return text.toStdString(); }

} // namespace

QString trimSpaces(const QString &text)
{
    return QString::fromStdString(std::string(trimSpaces(std::string_view(utf8(text)))));
}

bool isBlank(const QString &text) { return isBlank(std::string_view(utf8(text))); }

bool isNumeric(const QString &text) { return isNumeric(std::string_view(utf8(text))); }

std::optional<double> toNumber(const QString &text) { return toNumber(std::string_view(utf8(text))); }

std::optional<int> toWholeNumber(const QString &text, int lowest, int highest)
{
    return toWholeNumber(std::string_view(utf8(text)), lowest, highest);
}

std::optional<qint16> toWholeNumber16(const QString &text) { return toWholeNumber16(std::string_view(utf8(text))); }

std::optional<quint16> toPortNumber(const QString &text) { return toPortNumber(std::string_view(utf8(text))); }

} // namespace TextRules
