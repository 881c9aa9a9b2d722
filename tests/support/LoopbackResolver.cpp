#include "LoopbackResolver.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <netinet/in.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <unistd.h>

namespace LoopbackResolver {

namespace {

// Writes `content` to a temporary file and mounts it over `target`.
bool mountFile(const char *target, const QByteArray &content)
{
    char path[] = "/tmp/ostrel-resolv-XXXXXX";
    const int fd = ::mkstemp(path);
    if (fd < 0)
        return false;
    const bool written = ::write(fd, content.constData(), size_t(content.size())) == ssize_t(content.size());
    ::close(fd);
    const bool mounted = written && ::mount(path, target, nullptr, MS_BIND, nullptr) == 0;
    const int error = errno;
    ::unlink(path);   // the bind mount keeps it
    errno = error;
    // Without any resolv.conf the resolver asks 127.0.0.1 anyway.
    return mounted || (written && errno == ENOENT && std::strcmp(target, "/etc/resolv.conf") == 0);
}

} // namespace

bool confine(QString *why, const Setup &setup)
{
    const auto fail = [why](const char *step) {
        *why = QStringLiteral("%1: %2").arg(QLatin1String(step), QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    };
    if (::unshare(CLONE_NEWNS) != 0)
        return fail("unshare");
    if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        return fail("private mounts");
    const QByteArray options = setup.options.isEmpty() ? QByteArray() : "options " + setup.options + "\n";
    if (!mountFile("/etc/resolv.conf", "nameserver " + setup.nameServer + "\n" + options))
        return fail("bind mount over /etc/resolv.conf");
    if (!setup.hosts.isEmpty()
        && !mountFile("/etc/hosts", "127.0.0.1 localhost\n::1 localhost ip6-localhost\n" + setup.hosts + "\n"))
        return fail("bind mount over /etc/hosts");
    return true;
}

QByteArray silentNameServer(const QByteArray &address)
{
    sockaddr_in bound{};
    bound.sin_family = AF_INET;
    bound.sin_port = htons(53);
    if (::inet_pton(AF_INET, address.constData(), &bound.sin_addr) != 1)
        return {};
    // Kept open until the process ends; queries queue up unread.
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr *>(&bound), sizeof bound) != 0) {
        if (fd >= 0)
            ::close(fd);
        return {};
    }
    return address;
}

} // namespace LoopbackResolver
