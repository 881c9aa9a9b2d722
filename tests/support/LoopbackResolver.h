#pragma once

#include <string>

// Look-ups of this process and the programs it starts go to a name server on loopback, or by default
// to the hosts file alone, so no query leaves the machine. Needs a mount namespace (root):
// false with the reason otherwise. Call it before any thread starts: earlier threads keep the machine's files.
namespace LoopbackResolver {

struct Setup {
    std::string nameServer; // none: no name server is asked at all
    std::string hosts; // lines for a hosts file of our own (none: the machine's is kept)
    std::string options; // resolv.conf options, e.g. "timeout:2 attempts:1"
};

bool confine(std::string *why, const Setup &setup = {});

// A name server on `address` (none: a loopback address of this process's own) port 53 that takes
// every query and answers none while the process lives. Empty text when it cannot be made.
std::string silentNameServer(const std::string &address = {});

} // namespace LoopbackResolver
