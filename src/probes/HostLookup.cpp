#include "probes/HostLookup.h"

#include "probes/EventWait.h"
#include "probes/TextRules.h"
#include "probes/modIP32.h"

#include <QSocketNotifier>
#include <QStringList>

#include <memory>
#include <mutex>
#include <netdb.h>
#include <sys/eventfd.h>
#include <system_error>
#include <thread>
#include <unistd.h>

namespace HostLookup {

namespace {

// Shared by the waiting caller and the look-up thread; the last one to let
// go closes the descriptor.
struct Pending {
    int wake = -1;
    std::mutex mutex;
    bool done = false;
    QList<QHostAddress> found;

    ~Pending()
    {
        if (wake >= 0)
            ::close(wake);
    }
};

QList<QHostAddress> systemLookUp(const QByteArray &name)
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;   // one entry per address
    addrinfo *list = nullptr;
    if (::getaddrinfo(name.constData(), nullptr, &hints, &list) != 0)
        return {};
    QList<QHostAddress> v4;
    QList<QHostAddress> v6;
    for (const addrinfo *entry = list; entry; entry = entry->ai_next) {
        const QHostAddress address(entry->ai_addr);
        if (entry->ai_family == AF_INET)
            v4 << address;
        else if (entry->ai_family == AF_INET6)
            v6 << address;
    }
    ::freeaddrinfo(list);
    return v4 + v6;
}

// Four decimal parts of one to three digits, each up to 255 (a leading zero
// is no octal sign here).
std::optional<QHostAddress> ipv4(const QString &text)
{
    const QStringList parts = text.split(QLatin1Char('.'));
    if (parts.size() != 4)
        return std::nullopt;
    quint32 packed = 0;
    for (const QString &part : parts) {
        if (part.isEmpty() || part.size() > 3)
            return std::nullopt;
        for (const QChar c : part) {
            if (c < QLatin1Char('0') || c > QLatin1Char('9'))
                return std::nullopt;
        }
        const int value = part.toInt();
        if (value > 255)
            return std::nullopt;
        packed = packed << 8 | static_cast<quint32>(value);
    }
    return QHostAddress(packed);
}

} // namespace

std::optional<QHostAddress> literal(const QString &name)
{
    QString text = TextRules::trimSpaces(name);
    if (const auto address = ipv4(text))
        return address;
    if (text.startsWith(QLatin1Char('[')) && text.endsWith(QLatin1Char(']')))
        text = text.mid(1, text.size() - 2);
    if (!text.contains(QLatin1Char(':')))
        return std::nullopt;
    const QHostAddress address(text);
    if (address.protocol() != QAbstractSocket::IPv6Protocol)
        return std::nullopt;
    return address;
}

QList<QHostAddress> resolve(const QString &name, QDeadlineTimer deadline)
{
    if (const auto address = literal(name))
        return {*address};
    const QByteArray bytes = TextRules::trimSpaces(name).toLocal8Bit();
    if (bytes.isEmpty() || bytes.contains('\0') || EventWait::abandoned())
        return {};

    auto pending = std::make_shared<Pending>();
    pending->wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (pending->wake < 0)
        return {};
    QSocketNotifier woken(pending->wake, QSocketNotifier::Read);
    EventWait wait(deadline);
    wait.finishOn(&woken, &QSocketNotifier::activated);
    try {
        std::thread([pending, bytes] {
            QList<QHostAddress> found = systemLookUp(bytes);
            const std::lock_guard<std::mutex> lock(pending->mutex);
            pending->found = std::move(found);
            pending->done = true;
            const eventfd_t one = 1;
            ::eventfd_write(pending->wake, one);
        }).detach();
    } catch (const std::system_error &) {
        return {};   // no thread to be had: as if the name were unknown
    }
    wait.exec();
    const std::lock_guard<std::mutex> lock(pending->mutex);
    if (!pending->done || EventWait::abandoned())
        return {};
    return pending->found;
}

std::optional<QHostAddress> deviceAddress(const QString &name, QDeadlineTimer deadline)
{
    if (const auto address = literal(name))
        return address;
    if (modIP32::Is_IPAddress(TextRules::trimSpaces(name)))
        return std::nullopt;
    const QList<QHostAddress> found = resolve(name, deadline);
    if (found.isEmpty())
        return std::nullopt;
    return found.first();
}

} // namespace HostLookup
