#pragma once

#include <QString>
#include <optional>

// How Ostrel reads blanks and numbers in texts typed by users: the calling
// sequence, the address test, the port field and the stored settings all
// follow these rules.
namespace TextRules {

// Leading and trailing blanks removed; other white space is kept.
QString trimSpaces(const QString &text);

// Empty, or nothing but blanks.
bool isBlank(const QString &text);

// A number, blanks around it allowed: an optional sign, digits with an
// optional decimal part (".5" and "5." count), and an optional exponent.
// Nothing else counts: no thousands separators, currency signs, hexadecimal
// prefixes or locale decimal commas.
bool isNumeric(const QString &text);

// The value of a numeric text, or nothing.
std::optional<double> toNumber(const QString &text);

// A numeric text as a whole number, a fraction rounded to the nearest whole
// number (a half to the even neighbour); nothing when the text is not numeric
// or the number lies outside lowest..highest.
std::optional<int> toWholeNumber(const QString &text, int lowest, int highest);

// The same within -32768..32767 (timeouts, stored numbers).
std::optional<qint16> toWholeNumber16(const QString &text);

// The same within 0..65535: every TCP port, not only those up to 32767.
std::optional<quint16> toPortNumber(const QString &text);

} // namespace TextRules
