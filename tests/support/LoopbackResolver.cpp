#include "LoopbackResolver.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

namespace LoopbackResolver {

bool confine(QString *why)
{
    const auto fail = [why](const char *step) {
        *why = QStringLiteral("%1: %2").arg(QLatin1String(step), QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    };
    if (::unshare(CLONE_NEWNS) != 0)
        return fail("unshare");
    if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        return fail("private mounts");
    char path[] = "/tmp/ostrel-resolv-XXXXXX";
    const int fd = ::mkstemp(path);
    if (fd < 0)
        return fail("mkstemp");
    static const char content[] = "nameserver 127.0.0.1\n";
    const bool written = ::write(fd, content, sizeof content - 1) == ssize_t(sizeof content - 1);
    ::close(fd);
    const bool mounted = written && ::mount(path, "/etc/resolv.conf", nullptr, MS_BIND, nullptr) == 0;
    const int error = errno;
    ::unlink(path);   // the bind mount keeps it
    errno = error;
    // Without any resolv.conf the resolver asks 127.0.0.1 anyway.
    if (!mounted && !(written && errno == ENOENT))
        return fail("bind mount over /etc/resolv.conf");
    return true;
}

} // namespace LoopbackResolver
