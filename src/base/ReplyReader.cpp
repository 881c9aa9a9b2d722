#include "base/ReplyReader.h"

#include <algorithm>

namespace {

bool numbered(std::string_view line)
{
    const auto digit = [&line](size_t i) { return line[i] >= '0' && line[i] <= '9'; };
    return line.size() >= 3 && digit(0) && digit(1) && digit(2);
}

} // namespace

ReplyReader::State ReplyReader::next(Reply &reply)
{
    const auto broken = [this] {
        m_broken = true;
        return State::Unreadable;
    };
    while (!m_broken) {
        const size_t end = m_buffer.find('\n', m_start);
        if (end == std::string::npos) {
            // Only the line begun is kept, however long the server goes on.
            m_buffer.erase(0, m_start);
            m_start = 0;
            return m_buffer.size() > kLongest ? broken() : State::Incomplete;
        }
        std::string_view line(m_buffer.data() + m_start, end - m_start);
        m_start = end + 1;
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (line.size() > kLongest)
            return broken();
        const bool first = m_code.empty();
        const bool numberedLine = numbered(line);
        const char after = line.size() > 3 ? line[3] : ' ';
        if (first) {
            // Codes start at 100 and may run into their text.
            if (!numberedLine || line[0] == '0')
                return broken();
            m_code = line.substr(0, 3);
        } else if (!numberedLine || line.substr(0, 3) != m_code || after != ' ') {
            // Between the first and the last line of a reply anything goes, and is not kept.
            continue;
        }
        const bool last = !first || after != '-';
        if (!first)
            m_text += '\n';
        m_text += line.substr(after == ' ' || after == '-' ? std::min<size_t>(4, line.size()) : 3);
        if (m_text.size() > kLongest)
            return broken();
        if (last) {
            reply.code = std::stoi(std::string(line.substr(0, 3)));
            reply.text = std::move(m_text);
            m_text.clear();
            m_code.clear();
            return State::Complete;
        }
    }
    return State::Unreadable;
}
