#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Reads the numbered replies of an FTP server from the bytes as they arrive,
// one piece at a time; what is parsed is not parsed again. A multi-line reply
// ("ddd-") ends at a line "ddd text" or "ddd" of the same code; the lines
// between may say anything.
class ReplyReader {
public:
    enum class State { Incomplete, Complete, Unreadable };
    struct Reply {
        int code = 0;
        std::string text; // the lines' texts after their codes, joined by LF
    };

    // No line, and no reply's text, may pass this; a server that sends more is no server of ours.
    static constexpr size_t kLongest = 64 * 1024;

    void add(std::string_view bytes) { m_buffer.append(bytes); }
    // The next whole reply, taken from what was added; Incomplete until its last
    // line has come. Once Unreadable, always Unreadable.
    State next(Reply &reply);

private:
    std::string m_buffer;
    size_t m_start = 0; // where the unparsed bytes begin
    std::string m_code; // the code of a multi-line reply begun
    std::string m_text;
    bool m_broken = false;
};
