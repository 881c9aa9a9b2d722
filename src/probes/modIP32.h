#pragma once

#include <QString>
#include <QtGlobal>

// Device addresses: the dotted-address test, host look-up, ICMP echo and the
// sockets start-up they need. No state is kept between calls.
namespace modIP32 {

// Status texts of Socket_Startup. Callers decide by comparing the text with
// kSocketStartupSuccess, never by the number returned.
inline const QString kSocketStartupSuccess = QStringLiteral("Socket initialization successfull.");
inline const QString kSocketStartupFailure = QStringLiteral("ERROR : Socket initialization failure.");

// Windows Sockets 1.1, as a version word: minor in the high byte.
inline constexpr quint16 kSocketsVersion = 257;
inline constexpr int kHostNameBufferLength = 256;
inline constexpr int kEchoReplyBufferSize = 278;

// True when the text has the shape of a dotted address: three numeric parts,
// each ended by a "." found from the second character on, then a numeric
// rest. No range check and no count of further dots: 999.1.1.1 and 1.2.3.4.5
// both pass (the rest of the latter reads as the number 4.5).
bool Is_IPAddress(const QString &text);

// The first IPv4 address of the host as dotted text; for a host with only
// IPv6 addresses (an IPv6 literal, with or without brackets, included) its
// first one in IPv6 text form; empty text when it cannot be resolved or
// sockets cannot be started. The name is trimmed of blanks and cut at 256
// characters; the look-up lasts as long as the system resolver takes, with
// the event loop running, and ends at once when waits are abandoned.
QString Get_HostIP(const QString &name);

// True when one of at most `count` echo requests to the address or host name
// got a reply within `wait` milliseconds; no further request follows a reply.
// A host reached only over IPv6 gets ICMPv6 echo requests.
// A wait below 0 counts as 0.
bool Ping_Host(const QString &strIP, qint16 count, qint16 wait, const QString &payload);

// 0 when sockets are ready, -1 otherwise; `message` (when given) receives the
// status text. A failed start-up leaves nothing to clean up.
qint32 Socket_Startup(QString *message = nullptr);
void Socket_Cleanup();

qint32 Hi_Byte(quint16 value);
qint32 Lo_Byte(quint16 value);

// The packed form of a four-part dotted address, first part in the lowest
// byte (each part's lowest 8 bits); 0 for fewer or more parts or a part that
// is not a number. Unsigned, so that addresses whose last part is 128 or more
// pack as well.
quint32 IP_ToLong(const QString &text);

} // namespace modIP32
