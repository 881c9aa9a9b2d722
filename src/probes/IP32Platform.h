#pragma once

#include <QByteArray>
#include <QList>
#include <QtGlobal>
#include <optional>

// The operating system services behind modIP32: sockets start-up and
// clean-up, host look-up and ICMP echo. One implementation per platform
// (IP32PlatformLinux.cpp here).
namespace modIP32 {

// What a sockets start-up reports.
struct WSAData {
    quint16 wVersion = 0; // low byte major, high byte minor
    qint16 iMaxSockets = 0;
};

// A resolved host: each entry of h_addr_list is h_length bytes, in network
// order; 4 for IPv4 addresses, 16 for IPv6 ones (a name without IPv4 address).
struct HostEnt {
    qint16 h_length = 0;
    QList<QByteArray> h_addr_list;
};

using EchoHandle = qintptr;
inline constexpr EchoHandle kInvalidEchoHandle = -1;

class Platform {
public:
    virtual ~Platform() = default;

    // 0 when sockets can be used, `data` then filled.
    virtual int WSAStartup(quint16 wVersionRequested, WSAData &data) = 0;
    virtual int WSACleanup() = 0;
    // The IPv4 record of a NUL-ended name, else its IPv6 one, or nothing when
    // it cannot be resolved.
    virtual std::optional<HostEnt> gethostbyname(const QByteArray &name) = 0;

    // kInvalidEchoHandle when no echo can be sent at all.
    virtual EchoHandle IcmpCreateFile() = 0;
    // Sends one echo request to the packed address (first part in the lowest
    // byte) and waits at most timeoutMs for its reply; the number of replies
    // stored in replyBuffer (0 or 1). Nothing is sent to the packed address 0.
    virtual quint32 IcmpSendEcho(EchoHandle handle, quint32 destinationAddress, const QByteArray &requestData,
        QByteArray &replyBuffer, quint32 timeoutMs)
        = 0;
    virtual bool IcmpCloseHandle(EchoHandle handle) = 0;

    // The same for IPv6: a handle for ICMPv6 echoes, and one echo to a
    // 16-byte address. Closed with IcmpCloseHandle. None by default.
    virtual EchoHandle Icmp6CreateFile() { return kInvalidEchoHandle; }
    virtual quint32 Icmp6SendEcho(EchoHandle, const QByteArray &, const QByteArray &, QByteArray &, quint32)
    {
        return 0;
    }
};

// This system's services.
Platform &systemPlatform();

} // namespace modIP32
