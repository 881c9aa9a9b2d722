#pragma once

#include <QDeadlineTimer>
#include <QHostAddress>
#include <QList>
#include <QString>
#include <optional>

// Name look-ups that hold neither the window nor the process: the system
// resolver runs on a detached thread that owns its own state, while the
// caller waits with the event loop running. A caller that stops waiting
// (deadline, abandoned) leaves the thread to finish alone; nothing waits
// for it at exit.
namespace HostLookup {

// The address a device name is by itself: an IPv4 dotted address, or an IPv6
// literal with or without brackets. Blanks around it are allowed.
std::optional<QHostAddress> literal(const QString &name);

// Every address of the name, IPv4 ones first; empty when it has none, the
// deadline passed or waits were abandoned.
QList<QHostAddress> resolve(const QString &name, QDeadlineTimer deadline);

// The address a probe connects to: the literal itself, else the first
// address the name resolves to. A text of the dotted shape that is no IPv4
// address (999.1.1.1, 10.0.0.1.5) is never looked up.
std::optional<QHostAddress> deviceAddress(const QString &name, QDeadlineTimer deadline);

} // namespace HostLookup
