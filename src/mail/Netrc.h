#pragma once

#include <optional>
#include <string>
#include <string_view>

// The mail server's login from ~/.netrc, read as curl and ftp read it: the
// first "machine" entry for the host, else the first "default" entry; `user`
// when given must be the entry's login. An entry ends where the next
// "machine" or "default" begins, so no entry ever lends another its password.
// Only the login goes to the SMTP session, never the file's path, so these
// checks stay ours.
namespace Netrc {

struct Login {
    std::string user;
    std::string password;
};

// From the text of a .netrc file; nothing when a quote is left open.
std::optional<Login> login(std::string_view netrc, std::string_view host, std::string_view user);

// From $HOME/.netrc, when it is a plain file of the user's own that others
// may not read; otherwise one line on standard error says why it is not read.
std::optional<Login> loginOfUser(std::string_view host, std::string_view user);

// The first 64 KiB of a plain file, opened without blocking so that a FIFO in
// its place cannot hold the mail; nothing for anything else.
std::optional<std::string> plainFile(const std::string &path);

} // namespace Netrc
