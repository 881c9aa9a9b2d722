#include "mail/HostLookup.h"

void HostLookup::start(const QString &host)
{
    cancel();
    m_addresses.clear();
    m_canonicalName.clear();
    m_inProgress.emplace(host.toStdString());
    const auto deliver = [this] {
        const auto answer = m_inProgress ? m_inProgress->answer() : std::nullopt;
        if (!answer)
            return;
        for (const Address &address : answer->addresses)
            m_addresses << QHostAddress(reinterpret_cast<const sockaddr *>(&address.storage));
        m_canonicalName = QString::fromStdString(answer->canonicalName);
        cancel();
        emit finished();
    };
    // An answer had at once (no descriptor to wait on) still comes through the event loop.
    if (m_inProgress->fd() < 0) {
        QMetaObject::invokeMethod(this, deliver, Qt::QueuedConnection);
        return;
    }
    m_ready = std::make_unique<QSocketNotifier>(m_inProgress->fd(), QSocketNotifier::Read);
    connect(m_ready.get(), &QSocketNotifier::activated, this, deliver);
}

void HostLookup::cancel()
{
    m_ready.reset();
    m_inProgress.reset();
}
