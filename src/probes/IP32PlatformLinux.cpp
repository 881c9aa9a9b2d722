// Sockets, host look-up and ICMP echo (IPv4 and IPv6) on Linux. Sockets need
// no start-up here; echo goes through an ICMP datagram socket where the
// system allows one (net.ipv4.ping_group_range), else a raw socket
// (CAP_NET_RAW), else not at all.
#include "probes/IP32Platform.h"

#include "probes/EventWait.h"
#include "probes/HostLookup.h"

#include <QDeadlineTimer>
#include <QRandomGenerator>
#include <QSocketNotifier>
#include <QtEndian>

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <linux/icmp.h>
#include <map>
#include <netdb.h>
#include <netinet/icmp6.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

namespace modIP32 {

namespace {

    constexpr quint8 kEchoReply = 0;
    constexpr quint8 kEchoRequest = 8;
    constexpr quint8 kEcho6Request = 128;
    constexpr quint8 kEcho6Reply = 129;
    constexpr int kIcmpHeaderSize = 8;

    quint16 checksum(const QByteArray &data)
    {
        quint32 sum = 0;
        const auto *bytes = reinterpret_cast<const quint8 *>(data.constData());
        qsizetype i = 0;
        for (; i + 1 < data.size(); i += 2)
            sum += static_cast<quint32>(bytes[i] << 8 | bytes[i + 1]);
        if (i < data.size())
            sum += static_cast<quint32>(bytes[i] << 8);
        while (sum >> 16)
            sum = (sum & 0xFFFF) + (sum >> 16);
        return static_cast<quint16>(~sum);
    }

    class LinuxPlatform final : public Platform {
    public:
        int WSAStartup(quint16 wVersionRequested, WSAData &data) override
        {
            data.wVersion = wVersionRequested;
            rlimit files {};
            qint64 limit = 32767;
            if (::getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur != RLIM_INFINITY)
                limit = qMin<qint64>(static_cast<qint64>(files.rlim_cur), 32767);
            data.iMaxSockets = static_cast<qint16>(limit);
            return 0;
        }

        int WSACleanup() override { return 0; }

        std::optional<HostEnt> gethostbyname(const QByteArray &name) override
        {
            // As long as the resolver takes, but with the event loop running and
            // nothing left behind for the process to wait for. IPv4 addresses
            // when the name has any, else its IPv6 ones.
            const QList<QHostAddress> found
                = HostLookup::resolve(QString::fromLocal8Bit(name), QDeadlineTimer::Forever);
            if (found.isEmpty())
                return std::nullopt;
            HostEnt host;
            const bool v4 = found.first().protocol() == QAbstractSocket::IPv4Protocol;
            host.h_length = v4 ? 4 : 16;
            for (const QHostAddress &address : found) {
                if ((address.protocol() == QAbstractSocket::IPv4Protocol) != v4)
                    continue;
                if (v4) {
                    const quint32 packed = qToBigEndian(address.toIPv4Address());
                    host.h_addr_list << QByteArray(reinterpret_cast<const char *>(&packed), 4);
                } else {
                    const Q_IPV6ADDR bytes = address.toIPv6Address();
                    host.h_addr_list << QByteArray(reinterpret_cast<const char *>(bytes.c), 16);
                }
            }
            return host;
        }

        EchoHandle IcmpCreateFile() override { return openEcho(false); }
        EchoHandle Icmp6CreateFile() override { return openEcho(true); }

        quint32 IcmpSendEcho(EchoHandle handle, quint32 destinationAddress, const QByteArray &requestData,
            QByteArray &replyBuffer, quint32 timeoutMs) override
        {
            // Linux would answer the address 0 from the local host; it is no device.
            if (destinationAddress == 0)
                return 0;
            sockaddr_in destination {};
            destination.sin_family = AF_INET;
            destination.sin_addr.s_addr = htonl((destinationAddress & 0xFF) << 24 | (destinationAddress & 0xFF00) << 8
                | (destinationAddress & 0xFF0000) >> 8 | destinationAddress >> 24);
            return sendEcho(handle, false, reinterpret_cast<const sockaddr *>(&destination), sizeof destination,
                requestData, replyBuffer, timeoutMs);
        }

        quint32 Icmp6SendEcho(EchoHandle handle, const QByteArray &destinationAddress, const QByteArray &requestData,
            QByteArray &replyBuffer, quint32 timeoutMs) override
        {
            // The unspecified address :: would be answered by the local host too.
            if (destinationAddress.size() != 16 || destinationAddress.count('\0') == 16)
                return 0;
            sockaddr_in6 destination {};
            destination.sin6_family = AF_INET6;
            std::memcpy(&destination.sin6_addr, destinationAddress.constData(), 16);
            return sendEcho(handle, true, reinterpret_cast<const sockaddr *>(&destination), sizeof destination,
                requestData, replyBuffer, timeoutMs);
        }

        bool IcmpCloseHandle(EchoHandle handle) override
        {
            const auto found = m_echoes.find(handle);
            if (found == m_echoes.end())
                return false;
            ::close(found->second.fd);
            m_echoes.erase(found);
            return true;
        }

    private:
        struct Echo {
            int fd = -1;
            bool v6 = false;
            bool raw = false;
            quint16 identifier = 0;
            quint16 sequence = 0;
        };

        // A datagram socket where the system allows one (ping_group_range, for
        // both families), else a raw socket (CAP_NET_RAW), else none.
        EchoHandle openEcho(bool v6)
        {
            const int family = v6 ? AF_INET6 : AF_INET;
            const int protocol = v6 ? int(IPPROTO_ICMPV6) : int(IPPROTO_ICMP);
            Echo echo;
            echo.v6 = v6;
            echo.fd = ::socket(family, SOCK_DGRAM | SOCK_CLOEXEC, protocol);
            if (echo.fd < 0) {
                echo.fd = ::socket(family, SOCK_RAW | SOCK_CLOEXEC, protocol);
                echo.raw = true;
            }
            if (echo.fd < 0)
                return kInvalidEchoHandle;
            if (echo.raw) {
                // A raw socket sees every ICMP message of the host: let only echo replies through.
                if (v6) {
                    icmp6_filter filter {};
                    ICMP6_FILTER_SETBLOCKALL(&filter);
                    ICMP6_FILTER_SETPASS(kEcho6Reply, &filter);
                    ::setsockopt(echo.fd, IPPROTO_ICMPV6, ICMP6_FILTER, &filter, sizeof filter);
                } else {
                    icmp_filter filter {};
                    filter.data = ~(1u << kEchoReply);
                    ::setsockopt(echo.fd, SOL_RAW, ICMP_FILTER, &filter, sizeof filter);
                }
                echo.identifier = static_cast<quint16>(QRandomGenerator::global()->bounded(1, 65536));
            }
            m_echoes[echo.fd] = echo;
            return echo.fd;
        }

        quint32 sendEcho(EchoHandle handle, bool v6, const sockaddr *destination, socklen_t length,
            const QByteArray &requestData, QByteArray &replyBuffer, quint32 timeoutMs)
        {
            const auto found = m_echoes.find(handle);
            if (found == m_echoes.end() || found->second.v6 != v6)
                return 0;
            Echo &echo = found->second;
            const quint16 sequence = ++echo.sequence;

            QByteArray packet(kIcmpHeaderSize, '\0');
            packet[0] = static_cast<char>(v6 ? kEcho6Request : kEchoRequest);
            // A datagram socket puts in its own identifier.
            packet[4] = static_cast<char>(echo.identifier >> 8);
            packet[5] = static_cast<char>(echo.identifier & 0xFF);
            packet[6] = static_cast<char>(sequence >> 8);
            packet[7] = static_cast<char>(sequence & 0xFF);
            packet += requestData;
            // The system sums ICMPv6 messages itself (their sum covers the IPv6 header).
            if (!v6) {
                const quint16 sum = checksum(packet);
                packet[2] = static_cast<char>(sum >> 8);
                packet[3] = static_cast<char>(sum & 0xFF);
            }
            if (::sendto(echo.fd, packet.constData(), static_cast<size_t>(packet.size()), 0, destination, length) < 0)
                return 0;

            // The reply is awaited with the event loop running: the window stays
            // alive and the process sleeps until the socket has something.
            const QDeadlineTimer deadline(static_cast<qint64>(timeoutMs), Qt::PreciseTimer);
            QSocketNotifier readable(echo.fd, QSocketNotifier::Read);
            QByteArray received(65536, '\0');
            for (;;) {
                const ssize_t size
                    = ::recv(echo.fd, received.data(), static_cast<size_t>(received.size()), MSG_DONTWAIT);
                if (size >= 0) {
                    const auto data = echoReplyData(echo, received.left(size), sequence);
                    if (data) {
                        replyBuffer.fill('\0');
                        std::memcpy(replyBuffer.data(), data->constData(),
                            static_cast<size_t>(qMin(data->size(), replyBuffer.size())));
                        return 1;
                    }
                    continue;
                }
                if (errno == EINTR)
                    continue;
                if (errno != EAGAIN && errno != EWOULDBLOCK)
                    return 0;
                EventWait wait(deadline);
                wait.finishOn(&readable, &QSocketNotifier::activated);
                if (!wait.exec())
                    return 0;
            }
        }

        // The echoed data when the message is the reply to this request.
        static std::optional<QByteArray> echoReplyData(const Echo &echo, const QByteArray &message, quint16 sequence)
        {
            qsizetype offset = 0;
            if (echo.raw && !echo.v6) {
                // A raw IPv4 socket hands over the IP header too.
                if (message.isEmpty())
                    return std::nullopt;
                offset = (static_cast<quint8>(message.at(0)) & 0x0F) * 4;
            }
            if (message.size() < offset + kIcmpHeaderSize)
                return std::nullopt;
            const auto byte = [&](qsizetype at) { return static_cast<quint8>(message.at(offset + at)); };
            if (byte(0) != (echo.v6 ? kEcho6Reply : kEchoReply) || byte(1) != 0)
                return std::nullopt;
            if (echo.raw && (byte(4) << 8 | byte(5)) != echo.identifier)
                return std::nullopt;
            if ((byte(6) << 8 | byte(7)) != sequence)
                return std::nullopt;
            return message.mid(offset + kIcmpHeaderSize);
        }

        std::map<EchoHandle, Echo> m_echoes;
    };

} // namespace

Platform &systemPlatform()
{
    static LinuxPlatform linuxPlatform;
    return linuxPlatform;
}

} // namespace modIP32
