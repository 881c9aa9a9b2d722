#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// How Ostrel reads blanks and numbers in texts typed by users (the calling
// sequence, the address test, the port field, the stored settings), and how
// it makes a text safe to show on one line. Texts are UTF-8.
namespace TextRules {

// Leading and trailing blanks removed; other white space is kept.
std::string_view trimSpaces(std::string_view text);

// Empty, or nothing but blanks.
bool isBlank(std::string_view text);

// A number, blanks around it allowed: an optional sign, digits with an
// optional decimal part (".5" and "5." count), and an optional exponent.
// Nothing else counts: no thousands separators, currency signs, hexadecimal
// prefixes or locale decimal commas.
bool isNumeric(std::string_view text);

// The value of a numeric text (read the same in every locale), or nothing
// when it is beyond a double's range; a number too small for a double is the
// smallest one of its sign.
std::optional<double> toNumber(std::string_view text);

// A numeric text as a whole number, a fraction rounded to the nearest whole
// number (a half to the even neighbour); nothing when the text is not numeric
// or the number lies outside lowest..highest.
std::optional<int> toWholeNumber(std::string_view text, int lowest, int highest);

// The same within -32768..32767 (timeouts, stored numbers).
std::optional<int16_t> toWholeNumber16(std::string_view text);

// The same within 0..65535: every TCP port, not only those up to 32767.
std::optional<uint16_t> toPortNumber(std::string_view text);

// A timeout in seconds, as toWholeNumber16 reads it, except that a number
// above 0 that would round to 0 is 1: never the default wait of 0 or below.
std::optional<int16_t> toTimeout(std::string_view text);

// One line, whatever the text held: control characters (C0, DEL, C1) and the
// Unicode line and paragraph separators become blanks, and bytes that are no
// UTF-8 become U+FFFD, so nothing in a device name or a server's reply can
// start a line of its own in a log, a mail or a message.
std::string blankControls(std::string_view text);

// At most `bytes` bytes of the text, never cutting a UTF-8 character in two.
std::string_view cutAtCharacter(std::string_view text, size_t bytes);

} // namespace TextRules
