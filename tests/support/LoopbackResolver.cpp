#include "LoopbackResolver.h"
#include "LoopbackPeers.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

namespace LoopbackResolver {

// Writes `content` to a temporary file and mounts it over `target` (the mount keeps the file).
static bool mountFile(const char *target, const std::string &content)
{
    char path[] = "/tmp/ostrel-resolv-XXXXXX";
    const int fd = ::mkstemp(path);
    const bool written = fd >= 0 && ::write(fd, content.data(), content.size()) == ssize_t(content.size());
    const bool mounted = written && ::mount(path, target, nullptr, MS_BIND, nullptr) == 0;
    const int error = errno;
    if (fd >= 0)
        ::close(fd), ::unlink(path);
    errno = error;
    return mounted;
}

bool confine(std::string *why, const Setup &setup)
{
    const auto fail = [why](const char *step) {
        *why = std::string(step) + ": " + std::strerror(errno);
        return false;
    };
    if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        return fail("private mount namespace");
    const std::string options = setup.options.empty() ? "" : "options " + setup.options + "\n";
    // Without a name server of ours none is asked: one of the machine's own on loopback could forward the query.
    if (setup.nameServer.empty()) {
        if (!mountFile("/etc/nsswitch.conf", "hosts: files\n"))
            return fail("bind mount over /etc/nsswitch.conf");
    } else if (!mountFile("/etc/resolv.conf", "nameserver " + setup.nameServer + "\n" + options) && errno != ENOENT)
        return fail("bind mount over /etc/resolv.conf"); // without any, the resolver asks 127.0.0.1 anyway
    if (!setup.hosts.empty()
        && !mountFile("/etc/hosts", "127.0.0.1 localhost\n::1 localhost ip6-localhost\n" + setup.hosts + "\n"))
        return fail("bind mount over /etc/hosts");
    return true;
}

std::string silentNameServer(const std::string &wanted)
{
    // Tests running at the same time each need a port 53 of their own; queries queue up unread.
    const std::string address = wanted.empty() ? privateLoopbackAddress() : wanted;
    sockaddr_in bound { AF_INET, htons(53), {}, {} };
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (::inet_pton(AF_INET, address.c_str(), &bound.sin_addr) == 1
        && ::bind(fd, reinterpret_cast<sockaddr *>(&bound), sizeof bound) == 0)
        return address;
    ::close(fd);
    return {};
}

} // namespace LoopbackResolver
