#include "net/TcpProbe.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace TcpProbe {

namespace {

    Failure failureOf(int error)
    {
        switch (error) {
        case ECONNREFUSED:
            return Failure::Refused;
        case ETIMEDOUT:
            return Failure::NoAnswer;
        case ENETUNREACH:
        case EHOSTUNREACH:
            return Failure::NoRoute;
        default:
            return Failure::Other;
        }
    }

    // One attempt: the open descriptor, or -1 with the failure noted.
    int attempt(const Address &to, uint16_t port, Wait::Deadline deadline, Wait::Waiter &waiter, Outcome &outcome)
    {
        Address target = to;
        if (target.family() == AF_INET)
            reinterpret_cast<sockaddr_in &>(target.storage).sin_port = htons(port);
        else
            reinterpret_cast<sockaddr_in6 &>(target.storage).sin6_port = htons(port);
        const int fd = ::socket(target.family(), SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        int error = fd < 0 ? errno : 0;
        if (fd >= 0 && ::connect(fd, reinterpret_cast<const sockaddr *>(&target.storage), target.length) != 0) {
            error = errno;
            if (error == EINPROGRESS) {
                socklen_t length = sizeof error;
                if (!waiter.wait(fd, POLLOUT, deadline))
                    error = ETIMEDOUT;
                else if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0)
                    error = errno;
            }
        }
        if (error == 0)
            return fd;
        if (fd >= 0)
            ::close(fd);
        outcome.failure = waiter.abandoned() ? Failure::Other : failureOf(error);
        outcome.error = error;
        return -1;
    }

} // namespace

Failure failureOf(Addresses::Found found)
{
    switch (found) {
    case Addresses::Found::Addresses:
        return Failure::None;
    case Addresses::Found::NoSuchHost:
        return Failure::NoSuchHost;
    case Addresses::Found::LookUpFailed:
    case Addresses::Found::TimedOut:
        return Failure::LookUpFailed;
    case Addresses::Found::Abandoned:
        break;
    }
    return Failure::Other;
}

int limitMs(int16_t intTimeOut) { return intTimeOut > 0 ? intTimeOut * 1000 : 15000; }

int connectAny(const std::vector<Address> &addresses, uint16_t port, Wait::Deadline deadline, Wait::Waiter &waiter,
    Outcome &outcome)
{
    outcome = {};
    if (port == 0) {
        outcome.failure = Failure::PortZero;
        return -1;
    }
    for (const Address &address : addresses) {
        if (waiter.abandoned() || Wait::Clock::now() >= deadline)
            break;
        const int fd = attempt(address, port, deadline, waiter, outcome);
        if (fd >= 0)
            return fd;
    }
    if (!addresses.empty() && outcome.failure == Failure::NoSuchHost)
        outcome.failure = Failure::NoAnswer; // the time was up before the first attempt
    return -1;
}

Outcome Check_Socket(
    const std::vector<Address> &addresses, uint16_t intSocketType, int16_t intTimeOut, Wait::Waiter &waiter)
{
    Outcome outcome;
    const auto start = Wait::Clock::now();
    const int fd
        = connectAny(addresses, intSocketType, start + std::chrono::milliseconds(limitMs(intTimeOut)), waiter, outcome);
    if (fd < 0)
        return outcome;
    outcome.seconds = std::chrono::duration<double>(Wait::Clock::now() - start).count();
    ::close(fd);
    outcome.accepted = !waiter.abandoned();
    outcome.failure = outcome.accepted ? Failure::None : Failure::Other;
    return outcome;
}

bool sendAll(int fd, std::string_view bytes, Wait::Deadline deadline, Wait::Waiter &waiter)
{
    while (!bytes.empty()) {
        const ssize_t sent = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (sent > 0)
            bytes.remove_prefix(static_cast<size_t>(sent));
        else if (sent == 0 || errno != EAGAIN || !waiter.wait(fd, POLLOUT, deadline))
            return false;
    }
    return true;
}

std::string firstBytes(int fd, std::string_view request, const std::function<bool(std::string_view)> &enough,
    size_t limit, Wait::Deadline deadline, Wait::Waiter &waiter)
{
    std::string received;
    if (!sendAll(fd, request, deadline, waiter))
        return received;
    char buffer[4096];
    while (received.size() < limit && !enough(received)) {
        const ssize_t size = ::recv(fd, buffer, std::min(sizeof buffer, limit - received.size()), 0);
        if (size > 0)
            received.append(buffer, static_cast<size_t>(size));
        else if (size == 0 || errno != EAGAIN || !waiter.wait(fd, POLLIN, deadline))
            break;
    }
    return received;
}

std::string describe(const Outcome &outcome, int16_t intTimeOut)
{
    switch (outcome.failure) {
    case Failure::None:
        return "Connection accepted";
    case Failure::Refused:
        return "Connection refused";
    case Failure::NoAnswer:
        return "No answer within " + Wait::inSeconds(limitMs(intTimeOut));
    case Failure::NoSuchHost:
        return "No such host";
    case Failure::LookUpFailed:
        return "The name could not be looked up";
    case Failure::NoRoute:
        return "No route to the device";
    case Failure::PortZero:
        return "Port 0 cannot be connected to";
    case Failure::Other:
        break;
    }
    return outcome.error ? std::strerror(outcome.error) : "The check was stopped";
}

} // namespace TcpProbe
