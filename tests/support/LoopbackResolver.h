#pragma once

#include <QByteArray>
#include <QString>

// Host look-ups of this process and the programs it starts go to a name
// server on loopback: by default 127.0.0.1, where nothing answers, so a name
// that is not in the hosts file fails at once and no query leaves the
// machine. Needs the rights to make a mount namespace (root); false with the
// reason otherwise. Call it before any thread is started: threads made
// earlier keep the machine's files.
namespace LoopbackResolver {

struct Setup {
    // Name server address; silentNameServer() makes one that never answers.
    QByteArray nameServer = "127.0.0.1";
    // Lines added to a hosts file of our own (none: the machine's is kept).
    QByteArray hosts;
    // The resolver's own limits, as in resolv.conf ("timeout:2 attempts:1").
    QByteArray options;
};

bool confine(QString *why, const Setup &setup = {});

// A name server on `address` port 53 that takes every query and answers
// none, for as long as the process lives: a look-up asking it hangs for the
// resolver's own time limits. Empty text when it cannot be made.
QByteArray silentNameServer(const QByteArray &address = "127.83.0.1");

} // namespace LoopbackResolver
