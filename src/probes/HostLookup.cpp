#include "probes/HostLookup.h"

#include <QMetaObject>
#include <QStringList>
#include <algorithm>
#include <mutex>
#include <netdb.h>
#include <sys/socket.h>
#include <system_error>
#include <thread>

// What the thread shares with its owner; the owner lets go of it by
// clearing `owner`, under the lock, before it goes away.
struct HostLookup::Shared {
    std::mutex mutex;
    HostLookup *owner = nullptr;
};

HostLookup::HostLookup(QObject *parent)
    : QObject(parent)
{
}

HostLookup::~HostLookup() { cancel(); }

void HostLookup::cancel()
{
    if (!m_shared)
        return;
    const std::lock_guard<std::mutex> lock(m_shared->mutex);
    m_shared->owner = nullptr;
    m_shared.reset();
}

void HostLookup::start(const QString &host)
{
    cancel();
    m_addresses.clear();
    m_canonicalName.clear();
    auto shared = std::make_shared<Shared>();
    shared->owner = this;
    m_shared = shared;
    const auto deliver = [shared](const QList<QHostAddress> &addresses, const QString &canonical) {
        const std::lock_guard<std::mutex> lock(shared->mutex);
        HostLookup *owner = shared->owner;
        if (!owner)
            return;
        // Posted events for an owner that is deleted meanwhile are dropped with it.
        QMetaObject::invokeMethod(
            owner,
            [owner, shared, addresses, canonical] {
                if (owner->m_shared != shared)
                    return;
                owner->m_shared.reset();
                owner->m_addresses = addresses;
                owner->m_canonicalName = canonical;
                emit owner->finished();
            },
            Qt::QueuedConnection);
    };
    try {
        std::thread([deliver, name = host.toUtf8()] {
            addrinfo hints {};
            hints.ai_family = AF_UNSPEC;
            hints.ai_socktype = SOCK_STREAM; // one entry per address
            hints.ai_flags = AI_CANONNAME;
            addrinfo *found = nullptr;
            QList<QHostAddress> addresses;
            QString canonical;
            if (::getaddrinfo(name.constData(), nullptr, &hints, &found) == 0) {
                if (found && found->ai_canonname)
                    canonical = QString::fromUtf8(found->ai_canonname);
                for (const addrinfo *entry = found; entry; entry = entry->ai_next) {
                    const QHostAddress address(entry->ai_addr);
                    if (!address.isNull() && !addresses.contains(address))
                        addresses << address;
                }
                ::freeaddrinfo(found);
            }
            std::stable_partition(addresses.begin(), addresses.end(),
                [](const QHostAddress &address) { return address.protocol() == QAbstractSocket::IPv4Protocol; });
            deliver(addresses, canonical);
        }).detach();
    } catch (const std::system_error &) {
        deliver({}, {}); // no thread to be had: as if the name were unknown
    }
}
