#include "probes/modIP32.h"

#include "probes/EventWait.h"
#include "probes/HostLookup.h"
#include "probes/IP32Platform.h"
#include "probes/TextRules.h"

#include <QStringList>
#include <climits>
#include <cstring>

namespace modIP32 {

namespace {

    // A part of a packed address; nothing when it is not a whole number.
    std::optional<quint32> addressByte(const QString &part)
    {
        const auto value = TextRules::toWholeNumber(part, INT_MIN, INT_MAX);
        if (!value)
            return std::nullopt;
        return static_cast<quint32>(*value) & 0xFFu;
    }

} // namespace

bool Is_IPAddress(const QString &text)
{
    QString rest = text;
    for (int part = 0; part < 3; ++part) {
        const qsizetype dot = rest.indexOf(QLatin1Char('.'), 1);
        if (dot < 0 || !TextRules::isNumeric(rest.left(dot)))
            return false;
        rest = rest.mid(dot + 1);
    }
    return TextRules::isNumeric(rest);
}

qint32 Hi_Byte(quint16 value) { return (value >> 8) & 0xFF; }

qint32 Lo_Byte(quint16 value) { return value & 0xFF; }

qint32 Socket_Startup(QString *message)
{
    QString status = kSocketStartupFailure;
    qint32 result = -1;
    bool started = false;
    try {
        WSAData data;
        if (systemPlatform().WSAStartup(kSocketsVersion, data) == 0) {
            started = true;
            const qint32 major = Lo_Byte(data.wVersion);
            const qint32 minor = Hi_Byte(data.wVersion);
            if (major < 1 || (major == 1 && minor < 1)) {
                status = QStringLiteral("ERROR : Windows Sockets version %1.%2 is not supported by winsock.dll.")
                             .arg(major)
                             .arg(minor);
            } else if (data.iMaxSockets < 1) {
                status = QStringLiteral("ERROR : A minimum of 1 supported sockets is required.");
            } else {
                status = kSocketStartupSuccess;
                result = 0;
            }
        }
    } catch (...) {
        status = kSocketStartupFailure;
        result = -1;
    }
    // A start-up the callers will not use is undone here: they only clean up
    // after the success text.
    if (started && result != 0)
        Socket_Cleanup();
    if (message)
        *message = status;
    return result;
}

void Socket_Cleanup()
{
    try {
        systemPlatform().WSACleanup();
    } catch (...) {
        // Nothing is left to do about it.
    }
}

QString Get_HostIP(const QString &name)
{
    QString status;
    Socket_Startup(&status);
    if (status != kSocketStartupSuccess)
        return QString();

    QString address;
    try {
        const QByteArray buffer = TextRules::trimSpaces(name).left(kHostNameBufferLength).toLocal8Bit();
        const auto host = systemPlatform().gethostbyname(buffer);
        if (host && !host->h_addr_list.isEmpty() && host->h_length == 16) {
            // A name with no IPv4 address: its IPv6 one, in the usual text form.
            const QByteArray first = host->h_addr_list.first();
            Q_IPV6ADDR bytes {};
            std::memcpy(bytes.c, first.constData(), static_cast<size_t>(qMin<qsizetype>(16, first.size())));
            address = QHostAddress(bytes).toString();
        } else if (host && !host->h_addr_list.isEmpty() && host->h_length > 0) {
            const QByteArray first = host->h_addr_list.first().left(host->h_length);
            QStringList parts;
            for (const char byte : first)
                parts << QString::number(static_cast<quint8>(byte));
            address = parts.join(QLatin1Char('.'));
        }
    } catch (...) {
        address.clear();
    }
    Socket_Cleanup();
    return address;
}

bool Ping_Host(const QString &strIP, qint16 count, qint16 wait, const QString &payload)
{
    QString address = strIP;
    std::optional<QHostAddress> v6;
    if (!Is_IPAddress(address)) {
        address = Get_HostIP(address);
        if (!Is_IPAddress(address)) {
            v6 = HostLookup::literal(address);
            if (!v6)
                return false;
        }
    }

    QString status;
    Socket_Startup(&status);
    if (status != kSocketStartupSuccess)
        return false;

    bool replied = false;
    EchoHandle handle = kInvalidEchoHandle;
    try {
        const quint32 packed = IP_ToLong(address);
        const Q_IPV6ADDR bytes = v6 ? v6->toIPv6Address() : Q_IPV6ADDR {};
        const QByteArray packed6(reinterpret_cast<const char *>(bytes.c), 16);
        handle = v6 ? systemPlatform().Icmp6CreateFile() : systemPlatform().IcmpCreateFile();
        const QByteArray request = payload.toLatin1();
        QByteArray reply(kEchoReplyBufferSize, '\0');
        const quint32 timeoutMs = wait > 0 ? static_cast<quint32>(wait) : 0;
        // No further request once the window has gone away.
        for (qint32 attempt = 1;
             handle != kInvalidEchoHandle && attempt <= count && !replied && !EventWait::abandoned(); ++attempt) {
            replied = (v6 ? systemPlatform().Icmp6SendEcho(handle, packed6, request, reply, timeoutMs)
                          : systemPlatform().IcmpSendEcho(handle, packed, request, reply, timeoutMs))
                > 0;
        }
    } catch (...) {
        // The result stands as far as it got; the handle and sockets are released below.
    }
    try {
        if (handle != kInvalidEchoHandle)
            systemPlatform().IcmpCloseHandle(handle);
    } catch (...) {
    }
    Socket_Cleanup();
    return replied;
}

quint32 IP_ToLong(const QString &text)
{
    const QStringList parts = text.split(QLatin1Char('.'));
    if (parts.size() != 4)
        return 0;
    quint32 packed = 0;
    for (int i = 0; i < 4; ++i) {
        const auto byte = addressByte(parts.at(i));
        if (!byte)
            return 0;
        packed |= *byte << (8 * i);
    }
    return packed;
}

} // namespace modIP32
