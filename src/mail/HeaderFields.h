#pragma once

#include <string>
#include <string_view>
#include <vector>

// Header fields of the result mail (RFC 5322), texts in UTF-8. Each field
// ends in CR LF, is folded before blanks near 78 octets and never has a line
// over 998 octets nor a continuation of blanks alone. Control characters
// become blanks; text beyond printable ASCII goes out as encoded words
// (RFC 2047), never splitting a character.
namespace HeaderFields {

// One field; `name` is a field name of ours, "Subject" or shorter.
std::string field(std::string_view name, std::string_view value);
// An address list field ("To: a@x, b@y"), folded between addresses.
std::string addressField(std::string_view name, const std::vector<std::string> &addresses);
// "Name <address>" with the name quoted, or encoded and folded as needed.
std::string namedAddress(std::string_view displayName, std::string_view address);

// The text on one line: control characters as blanks, each run of blanks as
// one, none at either end.
std::string oneLine(std::string_view text);

} // namespace HeaderFields
