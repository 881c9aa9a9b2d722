#pragma once

#include <QDeadlineTimer>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QString>
#include <memory>
#include <optional>

// Name look-ups that hold neither the window nor the process: the system
// resolver runs on a detached thread of its own. Nothing waits for that
// thread: a look-up that never ends holds neither the caller nor the end of
// the program, and its late answer is dropped.
class HostLookup : public QObject {
    Q_OBJECT
public:
    explicit HostLookup(QObject *parent = nullptr);
    ~HostLookup() override;

    // Starts resolving `host`; `finished` follows through the event loop.
    // A look-up still running is forgotten.
    void start(const QString &host);
    void cancel();

    // IPv4 addresses first, in the resolver's order.
    QList<QHostAddress> addresses() const { return m_addresses; }
    // The name the resolver gives as canonical ("" when none).
    QString canonicalName() const { return m_canonicalName; }
    bool isFinished() const { return !m_shared; }

signals:
    void finished();

private:
    struct Shared;
    std::shared_ptr<Shared> m_shared;
    QList<QHostAddress> m_addresses;
    QString m_canonicalName;
};
