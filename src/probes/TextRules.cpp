#include "probes/TextRules.h"

#include <QRegularExpression>
#include <cmath>

namespace TextRules {

QString trimSpaces(const QString &text)
{
    qsizetype first = 0;
    qsizetype last = text.size();
    while (first < last && text.at(first) == QLatin1Char(' '))
        ++first;
    while (last > first && text.at(last - 1) == QLatin1Char(' '))
        --last;
    return text.mid(first, last - first);
}

bool isBlank(const QString &text) { return trimSpaces(text).isEmpty(); }

bool isNumeric(const QString &text)
{
    // Anchored at the very end: "$" would also let a final line feed through.
    static const QRegularExpression number(QRegularExpression::anchoredPattern(
        QStringLiteral(" *[+-]?(?:[0-9]+\\.?[0-9]*|\\.[0-9]+)(?:[eE][+-]?[0-9]+)? *")));
    return number.match(text).hasMatch();
}

std::optional<double> toNumber(const QString &text)
{
    if (!isNumeric(text))
        return std::nullopt;
    bool ok = false;
    // QString::toDouble reads the C locale whatever the user's locale is.
    const double value = trimSpaces(text).toDouble(&ok);
    if (!ok || !std::isfinite(value))
        return std::nullopt;
    return value;
}

std::optional<int> toWholeNumber(const QString &text, int lowest, int highest)
{
    const auto value = toNumber(text);
    if (!value)
        return std::nullopt;
    // The default rounding mode rounds a half to the even neighbour.
    const double whole = std::nearbyint(*value);
    if (whole < lowest || whole > highest)
        return std::nullopt;
    return static_cast<int>(whole);
}

std::optional<qint16> toWholeNumber16(const QString &text)
{
    const auto value = toWholeNumber(text, -32768, 32767);
    return value ? std::optional<qint16>(static_cast<qint16>(*value)) : std::nullopt;
}

std::optional<quint16> toPortNumber(const QString &text)
{
    const auto value = toWholeNumber(text, 0, 65535);
    return value ? std::optional<quint16>(static_cast<quint16>(*value)) : std::nullopt;
}

} // namespace TextRules
