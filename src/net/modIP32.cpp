#include "net/modIP32.h"

#include "net/Addresses.h"

#include <arpa/inet.h>
#include <cerrno>
#include <climits>
#include <cstring>
#include <linux/icmp.h>
#include <netinet/icmp6.h>
#include <netinet/in.h>
#include <poll.h>
#include <random>
#include <sys/resource.h>
#include <unistd.h>

namespace modIP32 {

namespace {

    constexpr uint8_t kEchoReply = 0;
    constexpr uint8_t kEchoRequest = 8;
    constexpr uint8_t kEcho6Request = 128;
    constexpr uint8_t kEcho6Reply = 129;
    constexpr size_t kIcmpHeaderSize = 8;

    uint16_t checksum(const std::string &data)
    {
        uint32_t sum = 0;
        for (size_t i = 0; i < data.size(); i += 2) {
            const auto high = static_cast<uint8_t>(data[i]);
            const auto low = i + 1 < data.size() ? static_cast<uint8_t>(data[i + 1]) : 0;
            sum += static_cast<uint32_t>(high << 8 | low);
        }
        while (sum >> 16)
            sum = (sum & 0xFFFF) + (sum >> 16);
        return static_cast<uint16_t>(~sum);
    }

    // One socket for the echo requests to one address: a datagram socket where
    // the system allows one (it fills in its own identifier), else a raw one.
    class Echo {
    public:
        explicit Echo(const Address &to)
            : m_to(to)
            , m_v6(to.family() == AF_INET6)
        {
            const int protocol = m_v6 ? int(IPPROTO_ICMPV6) : int(IPPROTO_ICMP);
            m_fd = ::socket(to.family(), SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, protocol);
            if (m_fd >= 0)
                return;
            m_fd = ::socket(to.family(), SOCK_RAW | SOCK_CLOEXEC | SOCK_NONBLOCK, protocol);
            m_raw = true;
            if (m_fd < 0)
                return;
            // A raw socket sees every ICMP message of the host: only echo replies are let through.
            if (m_v6) {
                icmp6_filter filter {};
                ICMP6_FILTER_SETBLOCKALL(&filter);
                ICMP6_FILTER_SETPASS(kEcho6Reply, &filter);
                ::setsockopt(m_fd, IPPROTO_ICMPV6, ICMP6_FILTER, &filter, sizeof filter);
            } else {
                icmp_filter filter { ~(1u << kEchoReply) };
                ::setsockopt(m_fd, SOL_RAW, ICMP_FILTER, &filter, sizeof filter);
            }
            m_identifier = static_cast<uint16_t>(std::random_device()() % 65535 + 1);
        }
        ~Echo()
        {
            if (m_fd >= 0)
                ::close(m_fd);
        }
        Echo(const Echo &) = delete;
        Echo &operator=(const Echo &) = delete;

        bool usable() const { return m_fd >= 0; }

        // Sends one request and waits at most `waitMs` for its own reply.
        bool send(std::string_view payload, int waitMs, Wait::Waiter &waiter)
        {
            const uint16_t sequence = ++m_sequence;
            std::string packet(kIcmpHeaderSize, '\0');
            packet[0] = static_cast<char>(m_v6 ? kEcho6Request : kEchoRequest);
            packet[4] = static_cast<char>(m_identifier >> 8);
            packet[5] = static_cast<char>(m_identifier & 0xFF);
            packet[6] = static_cast<char>(sequence >> 8);
            packet[7] = static_cast<char>(sequence & 0xFF);
            packet += payload;
            // The system sums ICMPv6 messages itself (their sum covers the IPv6 header).
            if (!m_v6) {
                const uint16_t sum = checksum(packet);
                packet[2] = static_cast<char>(sum >> 8);
                packet[3] = static_cast<char>(sum & 0xFF);
            }
            if (::sendto(m_fd, packet.data(), packet.size(), 0, reinterpret_cast<const sockaddr *>(&m_to.storage),
                    m_to.length)
                < 0)
                return false;
            const Wait::Deadline deadline = Wait::after(waitMs);
            char received[2048];
            for (;;) {
                const ssize_t size = ::recv(m_fd, received, sizeof received, 0);
                if (size < 0 && (errno != EAGAIN || !waiter.wait(m_fd, POLLIN, deadline)))
                    return false;
                if (size >= 0 && isReplyTo(std::string_view(received, static_cast<size_t>(size)), sequence))
                    return true;
                // Others' ICMP traffic, however busy, cannot hold the wait past its end.
                if (Wait::Clock::now() >= deadline)
                    return false;
            }
        }

    private:
        // A raw socket also sees our own requests on loopback, and other programs' replies.
        bool isReplyTo(std::string_view message, uint16_t sequence) const
        {
            size_t offset = 0;
            if (m_raw && !m_v6 && !message.empty())
                offset
                    = (static_cast<uint8_t>(message[0]) & 0x0F) * 4; // a raw IPv4 socket hands over the IP header too
            if (message.size() < offset + kIcmpHeaderSize)
                return false;
            const auto byte = [&](size_t at) { return static_cast<uint8_t>(message[offset + at]); };
            return byte(0) == (m_v6 ? kEcho6Reply : kEchoReply) && byte(1) == 0
                && (!m_raw || (byte(4) << 8 | byte(5)) == m_identifier) && (byte(6) << 8 | byte(7)) == sequence;
        }

        Address m_to;
        bool m_v6;
        bool m_raw = false;
        int m_fd = -1;
        uint16_t m_identifier = 0;
        uint16_t m_sequence = 0;
    };

    bool unspecified(const Address &address)
    {
        if (address.family() == AF_INET)
            return reinterpret_cast<const sockaddr_in &>(address.storage).sin_addr.s_addr == 0;
        return IN6_IS_ADDR_UNSPECIFIED(&reinterpret_cast<const sockaddr_in6 &>(address.storage).sin6_addr);
    }

} // namespace

bool Is_IPAddress(std::string_view text) { return Addresses::hasDottedShape(text); }

int32_t Socket_Startup(std::string *message)
{
    rlimit files {};
    const bool usable = ::getrlimit(RLIMIT_NOFILE, &files) != 0 || files.rlim_cur >= 1;
    if (message)
        *message = usable ? kSocketStartupSuccess : kSocketStartupFailure;
    return usable ? 0 : -1;
}

void Socket_Cleanup() { }

std::string Get_HostIP(std::string_view name, Wait::Waiter &waiter)
{
    std::string status;
    Socket_Startup(&status);
    if (status != kSocketStartupSuccess)
        return {};
    const auto found = Addresses::ofDevice(name, Wait::kForever, waiter);
    Socket_Cleanup();
    return found.addresses.empty() ? std::string() : found.addresses.front().text();
}

bool Ping_Host(std::string_view strIP, int16_t count, int16_t wait, std::string_view payload, Wait::Waiter &waiter)
{
    const auto found = Addresses::ofDevice(strIP, Wait::kForever, waiter).addresses;
    // Linux would answer an echo to 0.0.0.0 or :: from the local host; it is no device.
    if (found.empty() || unspecified(found.front()))
        return false;
    const Address &address = found.front();
    std::string status;
    Socket_Startup(&status);
    if (status != kSocketStartupSuccess)
        return false;
    bool replied = false;
    Echo echo(address);
    // No further request once the waits are abandoned.
    for (int attempt = 1; echo.usable() && attempt <= count && !replied && !waiter.abandoned(); ++attempt)
        replied = echo.send(payload, wait > 0 ? wait : 0, waiter);
    Socket_Cleanup();
    return replied;
}

} // namespace modIP32
