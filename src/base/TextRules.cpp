#include "base/TextRules.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <limits>

namespace TextRules {

namespace {

    bool digit(char c) { return c >= '0' && c <= '9'; }

    // The length of the UTF-8 sequence that starts `text`, or 0 when it is none
    // (a stray continuation byte, an overlong or surrogate form, a cut sequence).
    size_t sequenceLength(std::string_view text)
    {
        const auto byte = [&text](size_t i) { return static_cast<unsigned char>(text[i]); };
        const unsigned char lead = byte(0);
        const size_t length = lead < 0x80  ? 1
            : lead >= 0xC2 && lead <= 0xDF ? 2
            : lead >= 0xE0 && lead <= 0xEF ? 3
            : lead >= 0xF0 && lead <= 0xF4 ? 4
                                           : 0;
        if (length == 0 || length > text.size())
            return 0;
        for (size_t i = 1; i < length; ++i) {
            if ((byte(i) & 0xC0) != 0x80)
                return 0;
        }
        // Overlong three- and four-byte forms, UTF-16 surrogates and code points above U+10FFFF.
        if ((lead == 0xE0 && byte(1) < 0xA0) || (lead == 0xED && byte(1) > 0x9F) || (lead == 0xF0 && byte(1) < 0x90)
            || (lead == 0xF4 && byte(1) > 0x8F))
            return 0;
        return length;
    }

    // Whether an unsigned numeric text too far from 1 for a double is too small rather than too large: the
    // decimal exponent of its first significant digit tells.
    bool tiny(std::string_view text)
    {
        const size_t e = text.find_first_of("eE");
        const std::string_view mantissa = text.substr(0, e);
        const size_t point = std::min(mantissa.find('.'), mantissa.size());
        const size_t first = mantissa.find_first_not_of("0.");
        const long lead = first < point ? long(point - first - 1) : -long(first - point);
        // strtol stops at the end of the text and saturates, so a written exponent of any length keeps its sign.
        const long written
            = e == std::string_view::npos ? 0 : std::strtol(std::string(text.substr(e + 1)).c_str(), nullptr, 10);
        return written < -lead;
    }

} // namespace

std::string_view trimSpaces(std::string_view text)
{
    const size_t first = text.find_first_not_of(' ');
    if (first == std::string_view::npos)
        return {};
    return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

bool isBlank(std::string_view text) { return trimSpaces(text).empty(); }

bool isNumeric(std::string_view text)
{
    text = trimSpaces(text);
    size_t i = 0;
    const auto digits = [&] {
        const size_t start = i;
        while (i < text.size() && digit(text[i]))
            ++i;
        return i - start;
    };
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        ++i;
    size_t mantissa = digits();
    if (i < text.size() && text[i] == '.') {
        ++i;
        mantissa += digits();
    }
    if (mantissa == 0)
        return false;
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        if (i < text.size() && (text[i] == '+' || text[i] == '-'))
            ++i;
        if (digits() == 0)
            return false;
    }
    return i == text.size();
}

std::optional<double> toNumber(std::string_view text)
{
    if (!isNumeric(text))
        return std::nullopt;
    text = trimSpaces(text);
    const bool negative = text.front() == '-';
    if (text.front() == '+' || negative)
        text.remove_prefix(1);
    double value = 0;
    // from_chars reads the C locale's form whatever the user's locale is.
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    // Below the smallest double a number is still above 0 (1e-400 is a positive timeout); above the largest, none.
    if (error == std::errc::result_out_of_range && tiny(text))
        value = std::numeric_limits<double>::denorm_min();
    else if (error != std::errc() || end != text.data() + text.size() || !std::isfinite(value))
        return std::nullopt;
    return negative ? -value : value;
}

std::optional<int> toWholeNumber(std::string_view text, int lowest, int highest)
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

std::optional<int16_t> toWholeNumber16(std::string_view text)
{
    const auto value = toWholeNumber(text, -32768, 32767);
    return value ? std::optional<int16_t>(static_cast<int16_t>(*value)) : std::nullopt;
}

std::optional<uint16_t> toPortNumber(std::string_view text)
{
    const auto value = toWholeNumber(text, 0, 65535);
    return value ? std::optional<uint16_t>(static_cast<uint16_t>(*value)) : std::nullopt;
}

std::optional<int16_t> toTimeout(std::string_view text)
{
    const auto whole = toWholeNumber16(text);
    // Rounded to 0 it would mean the default wait, far longer than asked.
    return whole == 0 && toNumber(text) > 0.0 ? std::optional<int16_t>(1) : whole;
}

std::string blankControls(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    while (!text.empty()) {
        const size_t length = sequenceLength(text);
        const std::string_view character = text.substr(0, length);
        const auto c = static_cast<unsigned char>(text.front());
        if (length == 0)
            out += "\xEF\xBF\xBD";
        else if (c < 0x20 || c == 0x7F || (c == 0xC2 && static_cast<unsigned char>(text[1]) < 0xA0)
            || character == "\xE2\x80\xA8" || character == "\xE2\x80\xA9")
            out += ' ';
        else
            out += character;
        text.remove_prefix(length ? length : 1);
    }
    return out;
}

std::string_view cutAtCharacter(std::string_view text, size_t bytes)
{
    if (text.size() <= bytes)
        return text;
    size_t end = bytes;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80)
        --end;
    return text.substr(0, end);
}

} // namespace TextRules
