#pragma once

#include "net/Addresses.h"

#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QSocketNotifier>
#include <QString>
#include <memory>
#include <optional>

// A name look-up that reports through the event loop: the look-up itself
// (Addresses::LookUpInProgress) runs on a thread of its own that nothing
// waits for, and a late answer is dropped.
class HostLookup : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    // Starts resolving `host`; `finished` follows through the event loop.
    // A look-up still running is forgotten.
    void start(const QString &host);
    void cancel();

    // IPv4 addresses first, in the resolver's order.
    QList<QHostAddress> addresses() const { return m_addresses; }
    // The name the resolver gives as canonical ("" when none).
    QString canonicalName() const { return m_canonicalName; }
    bool isFinished() const { return !m_inProgress; }

signals:
    void finished();

private:
    std::optional<Addresses::LookUpInProgress> m_inProgress;
    std::unique_ptr<QSocketNotifier> m_ready;
    QList<QHostAddress> m_addresses;
    QString m_canonicalName;
};
