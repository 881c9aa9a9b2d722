#include "mail/Netrc.h"

#include "base/Environment.h"

#include <cctype>
#include <cstdio>
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace Netrc {

namespace {

    bool space(char c) { return std::isspace(static_cast<unsigned char>(c)); }

    // The words of a .netrc text: blank-separated, or quoted with backslash
    // escapes; "#" at a word's start comments out the rest of its line.
    class Reader {
    public:
        struct Token {
            std::string text;
            bool quoted = false;
            bool is(std::string_view keyword) const { return !quoted && text == keyword; }
            bool startsEntry() const { return is("machine") || is("default"); }
        };

        explicit Reader(std::string_view text)
            : m_text(text)
        {
        }

        bool brokenQuote = false;

        std::optional<Token> next()
        {
            for (;;) {
                while (m_at < m_text.size() && space(m_text[m_at]))
                    ++m_at;
                if (m_at >= m_text.size())
                    return std::nullopt;
                if (m_text[m_at] != '#')
                    break;
                m_at = std::min(m_text.find('\n', m_at), m_text.size());
            }
            Token token;
            token.quoted = m_text[m_at] == '"';
            if (!token.quoted) {
                while (m_at < m_text.size() && !space(m_text[m_at]))
                    token.text += m_text[m_at++];
                return token;
            }
            for (++m_at; m_at < m_text.size() && m_text[m_at] != '"'; ++m_at) {
                if (m_text[m_at] == '\\' && m_at + 1 < m_text.size())
                    ++m_at;
                token.text += m_text[m_at];
            }
            brokenQuote = brokenQuote || m_at >= m_text.size();
            ++m_at;
            return token;
        }

        // A macro's text: the rest of its "macdef" line and every line up to an empty one.
        void skipMacro()
        {
            size_t end = m_text.find('\n', m_at);
            while (end != std::string_view::npos) {
                const size_t next = m_text.find('\n', end + 1);
                const std::string_view line = m_text.substr(end + 1, std::min(next, m_text.size()) - end - 1);
                if (next != std::string_view::npos && (line.empty() || line == "\r")) {
                    m_at = next;
                    return;
                }
                end = next;
            }
            m_at = m_text.size();
        }

    private:
        std::string_view m_text;
        size_t m_at = 0;
    };

    std::optional<std::string> readFile(const std::string &path, bool privateFile)
    {
        const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
        if (fd < 0)
            return std::nullopt;
        struct stat info { };
        const char *refusal = nullptr;
        std::optional<std::string> content;
        if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
            // Refused as ftp and Python refuse it, with one line saying so.
            if (privateFile && info.st_uid != ::geteuid())
                refusal = "mail: ~/.netrc is not owned by you\n";
            else if (privateFile && (info.st_mode & (S_IRWXG | S_IRWXO)) != 0)
                refusal = "mail: ~/.netrc is readable by others (chmod 600)\n";
            else
                content.emplace();
            char buffer[4096];
            for (ssize_t count;
                 content && content->size() < 64 * 1024 && (count = ::read(fd, buffer, sizeof buffer)) > 0;)
                content->append(buffer, size_t(count));
        }
        ::close(fd);
        if (refusal)
            std::fputs(refusal, stderr);
        return content;
    }

} // namespace

std::optional<Login> login(std::string_view netrc, std::string_view host, std::string_view user)
{
    struct Entry {
        bool isDefault = false;
        std::string machine;
        std::optional<std::string> login, password;
    };
    std::vector<Entry> entries;
    Reader reader(netrc);
    auto token = reader.next();
    while (token) {
        if (token->startsEntry()) {
            entries.push_back({ token->is("default"), {}, {}, {} });
            const bool named = token->is("machine");
            token = reader.next();
            if (named && token && !token->startsEntry()) {
                entries.back().machine = token->text;
                token = reader.next();
            }
            continue;
        }
        const bool login = token->is("login"), password = token->is("password");
        const bool macro = token->is("macdef");
        const bool valued = login || password || macro || token->is("account");
        token = reader.next();
        // A keyword without its value leaves the next entry whole.
        if (!valued || !token || token->startsEntry())
            continue;
        if (macro)
            reader.skipMacro();
        else if (!entries.empty() && (login || password))
            (login ? entries.back().login : entries.back().password) = token->text;
        token = reader.next();
    }
    if (reader.brokenQuote)
        return std::nullopt;
    for (const Entry &entry : entries) {
        if (!entry.isDefault
            && (entry.machine.size() != host.size()
                || ::strncasecmp(entry.machine.data(), host.data(), host.size()) != 0))
            continue;
        if (!user.empty() && entry.login != user)
            continue;
        // The first entry for the host decides, even when it lacks a part.
        if (!entry.login || !entry.password) // an empty login is handed on: the mail then logs on with none
            return std::nullopt;
        return Login { *entry.login, *entry.password };
    }
    return std::nullopt;
}

std::optional<Login> loginOfUser(std::string_view host, std::string_view user)
{
    const auto netrc = readFile(Environment::get("HOME") + "/.netrc", true);
    return netrc ? login(*netrc, host, user) : std::nullopt;
}

std::optional<std::string> plainFile(const std::string &path) { return readFile(path, false); }

} // namespace Netrc
