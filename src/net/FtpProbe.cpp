#include "net/FtpProbe.h"

#include "base/ReplyReader.h"
#include "net/TcpProbe.h"

#include <algorithm>
#include <cerrno>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace FtpProbe {

namespace {

    // What one read takes in: a server that streams at full speed is read a slice at a time.
    constexpr size_t kSlice = 4096;

    class Session {
    public:
        Session(int fd, Wait::Deadline deadline, Wait::Waiter &waiter)
            : m_fd(fd)
            , m_deadline(deadline)
            , m_waiter(waiter)
        {
        }
        ~Session()
        {
            // QUIT is on its way; what the server sent unread is drained first, so QUIT is never answered by a reset.
            ::shutdown(m_fd, SHUT_WR);
            // A server that never stops talking gets a reset instead: the drain is bounded.
            char slice[kSlice];
            for (int slices = 0; slices < 16 && ::recv(m_fd, slice, sizeof slice, MSG_DONTWAIT) > 0; ++slices)
                continue;
            ::close(m_fd);
        }

        // The code of the next whole reply, or NoConnection / NotFtp.
        int reply()
        {
            for (;;) {
                ReplyReader::Reply reply;
                const auto state = m_reader.next(reply);
                if (state == ReplyReader::State::Complete)
                    return reply.code;
                if (state == ReplyReader::State::Unreadable)
                    return NotFtp;
                // Every slice goes through the wait, so the window runs meanwhile, and the deadline is checked
                // first: a server that never stops talking would otherwise keep the wait from ever timing out.
                if (Wait::Clock::now() >= m_deadline || !m_waiter.wait(m_fd, POLLIN, m_deadline))
                    return NoConnection;
                char slice[kSlice];
                const ssize_t size = ::recv(m_fd, slice, sizeof slice, MSG_DONTWAIT);
                if (size > 0)
                    m_reader.add(std::string_view(slice, static_cast<size_t>(size)));
                else if (size == 0 || errno != EAGAIN)
                    return NoConnection;
            }
        }

        // Sends one command; a CR or LF in what the user typed cannot start a second one.
        int command(const std::string &verb, std::string text)
        {
            text.erase(
                std::remove_if(text.begin(), text.end(), [](char c) { return c == '\r' || c == '\n'; }), text.end());
            send(verb + text);
            return reply();
        }

        void send(const std::string &line)
        {
            const std::string bytes = line + "\r\n";
            [[maybe_unused]] const auto sent = ::send(m_fd, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        }

    private:
        int m_fd;
        Wait::Deadline m_deadline;
        Wait::Waiter &m_waiter;
        ReplyReader m_reader;
    };

} // namespace

int logOn(const std::vector<Address> &addresses, const std::string &user, const std::string &password,
    int16_t intTimeOut, Wait::Waiter &waiter, uint16_t port)
{
    const Wait::Deadline deadline = Wait::after(TcpProbe::limitMs(intTimeOut));
    TcpProbe::Outcome outcome;
    const int fd = TcpProbe::connectAny(addresses, port, deadline, waiter, outcome);
    if (fd < 0)
        return NoConnection;
    Session session(fd, deadline, waiter);
    int code = session.reply();
    // "120 ready in n minutes" comes before the real greeting.
    while (code == 120)
        code = session.reply();
    if (code == 220) {
        code = session.command("USER ", user);
        if (code == 331)
            code = session.command("PASS ", password);
    }
    session.send("QUIT");
    return code == 230 && !waiter.abandoned() ? LoggedOn : code;
}

bool Check_FTP(const std::vector<Address> &addresses, const std::string &strName, const std::string &strPassword,
    int16_t intTimeOut, Wait::Waiter &waiter)
{
    return !addresses.empty() && logOn(addresses, strName, strPassword, intTimeOut, waiter) == LoggedOn;
}

} // namespace FtpProbe
