#pragma once

#include <QString>

// Host look-ups of this process and the programs it starts go to a name
// server on 127.0.0.1, where nothing answers: a name that is not in
// /etc/hosts fails at once and no query leaves the machine. Needs the rights
// to make a mount namespace (root); false with the reason otherwise.
namespace LoopbackResolver {
bool confine(QString *why);
}
