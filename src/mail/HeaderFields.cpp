#include "mail/HeaderFields.h"

#include "base/TextRules.h"

#include <algorithm>

namespace HeaderFields {

namespace {

    constexpr std::string_view kCrLf = "\r\n";
    constexpr size_t kFoldColumn = 78;
    constexpr size_t kLongestLine = 998;
    // 39 bytes become 52 base64 characters: with "=?UTF-8?B?", "?=" and a header
    // name of up to 12 characters the line stays within 78.
    constexpr size_t kEncodedWordBytes = 39;
    // A display name longer than this goes out encoded, folded between its words.
    constexpr size_t kLongestPlainName = 64;

    bool printableAscii(std::string_view text)
    {
        return std::all_of(text.begin(), text.end(), [](char c) { return c >= 0x20 && c < 0x7f; });
    }

    std::string base64(std::string_view bytes)
    {
        static constexpr char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
        std::string out;
        for (size_t i = 0; i < bytes.size(); i += 3) {
            uint32_t group = 0;
            for (size_t j = 0; j < 3; ++j)
                group = group << 8 | (i + j < bytes.size() ? static_cast<unsigned char>(bytes[i + j]) : 0);
            for (size_t j = 0; j < 4; ++j)
                out += j <= bytes.size() - i ? kDigits[group >> (18 - 6 * j) & 0x3f] : '=';
        }
        return out;
    }

    // Encoded words, never splitting a UTF-8 sequence between two.
    std::string encodedWords(std::string_view value)
    {
        std::string out;
        for (size_t start = 0; start < value.size();) {
            size_t end = std::min(start + kEncodedWordBytes, value.size());
            while (end < value.size() && end > start + 1 && (static_cast<unsigned char>(value[end]) & 0xc0) == 0x80)
                --end;
            out += (start ? "\r\n " : "") + std::string("=?UTF-8?B?") + base64(value.substr(start, end - start)) + "?=";
            start = end;
        }
        return out;
    }

    // Folds before a blank that precedes a word, so unfolding gives back the
    // value exactly and a continuation line always holds that word.
    std::string foldedPlain(size_t column, std::string_view value)
    {
        std::string out;
        bool wordOnLine = false;
        for (size_t start = 0; start <= value.size();) {
            const size_t end = std::min(value.find(' ', start), value.size());
            const std::string_view word = value.substr(start, end - start);
            if (wordOnLine && !word.empty() && column + 1 + word.size() > kFoldColumn) {
                out += kCrLf;
                column = 0;
            }
            out += ' ';
            out += word;
            column += 1 + word.size();
            wordOnLine = wordOnLine || !word.empty();
            start = end + 1;
        }
        return out;
    }

    // Leading or trailing blank runs and very long words can outgrow a line.
    bool linesFit(std::string_view field)
    {
        for (size_t start = 0; start < field.size();) {
            const size_t end = std::min(field.find(kCrLf, start), field.size());
            if (end - start > kLongestLine)
                return false;
            start = end + kCrLf.size();
        }
        return true;
    }

    bool plainWord(char c)
    {
        return c == ' ' || (c >= '0' && c <= '9') || ((c | 0x20) >= 'a' && (c | 0x20) <= 'z')
            || std::string_view("!#$%&'*+-/=?^_`{|}~").find(c) != std::string_view::npos;
    }

} // namespace

std::string oneLine(std::string_view text)
{
    std::string out;
    for (const char c : TextRules::blankControls(text)) {
        if (c != ' ' || (!out.empty() && out.back() != ' '))
            out += c;
    }
    if (!out.empty() && out.back() == ' ')
        out.pop_back();
    return out;
}

std::string field(std::string_view name, std::string_view value)
{
    const std::string safe = TextRules::blankControls(value);
    if (printableAscii(safe)) {
        const std::string folded = std::string(name) + ':' + foldedPlain(name.size() + 1, safe);
        if (linesFit(folded))
            return folded + std::string(kCrLf);
    }
    return std::string(name) + ": " + encodedWords(safe) + std::string(kCrLf);
}

std::string addressField(std::string_view name, const std::vector<std::string> &addresses)
{
    if (addresses.empty())
        return std::string(name) + ": undisclosed-recipients:;" + std::string(kCrLf);
    std::string out = std::string(name) + ':';
    size_t column = out.size();
    for (size_t i = 0; i < addresses.size(); ++i) {
        const std::string piece = addresses[i] + (i + 1 < addresses.size() ? "," : "");
        if (i > 0 && column + 1 + piece.size() > kFoldColumn) {
            out += kCrLf;
            column = 0;
        }
        out += ' ' + piece;
        column += 1 + piece.size();
    }
    return out + std::string(kCrLf);
}

std::string namedAddress(std::string_view displayName, std::string_view address)
{
    const std::string name = oneLine(displayName);
    const std::string bracketed = '<' + std::string(address) + '>';
    if (name.empty())
        return bracketed;
    if (!printableAscii(name) || name.size() > kLongestPlainName)
        return encodedWords(name) + ' ' + bracketed;
    if (std::all_of(name.begin(), name.end(), plainWord))
        return name + ' ' + bracketed;
    std::string quoted = "\"";
    for (const char c : name)
        quoted += c == '\\' || c == '"' ? std::string { '\\', c } : std::string(1, c);
    return quoted + "\" " + bracketed;
}

} // namespace HeaderFields
