#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Reads the numbered replies of an FTP or SMTP server from the bytes as they
// arrive, one piece at a time; what is parsed is not parsed again. Both end a
// multi-line reply ("ddd-" lines) at a line "ddd text" or "ddd"; FTP lets the
// lines between say anything, SMTP wants every line numbered.
class ReplyReader {
public:
    enum class Protocol { Ftp, Smtp };
    enum class State { Incomplete, Complete, Unreadable };
    struct Reply {
        int code = 0;
        std::string text; // the lines' texts after their codes, joined by LF
        bool positive() const { return code >= 200 && code < 300; }
    };

    // No line, and no reply's text, may pass this; a server that sends more is no server of ours.
    static constexpr size_t kLongest = 64 * 1024;

    explicit ReplyReader(Protocol protocol)
        : m_protocol(protocol)
    {
    }

    void add(std::string_view bytes) { m_buffer.append(bytes); }
    // The next whole reply, taken from what was added; Incomplete until its last
    // line has come. Once Unreadable, always Unreadable.
    State next(Reply &reply);
    // Forgets everything: what was added and a reply begun.
    void clear();

private:
    Protocol m_protocol;
    std::string m_buffer;
    size_t m_start = 0; // where the unparsed bytes begin
    std::string m_code; // the code of a multi-line reply begun
    std::string m_text;
    bool m_broken = false;
};
