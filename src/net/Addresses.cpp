#include "net/Addresses.h"

#include "base/TextRules.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cstring>
#include <memory>
#include <mutex>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <system_error>
#include <thread>
#include <unistd.h>

std::string Address::text() const
{
    char buffer[INET6_ADDRSTRLEN + IF_NAMESIZE + 2] = {};
    if (family() == AF_INET) {
        ::inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in &>(storage).sin_addr, buffer, sizeof buffer);
        return buffer;
    }
    const auto &v6 = reinterpret_cast<const sockaddr_in6 &>(storage);
    ::inet_ntop(AF_INET6, &v6.sin6_addr, buffer, sizeof buffer);
    std::string text = buffer;
    if (v6.sin6_scope_id != 0) {
        char name[IF_NAMESIZE] = {};
        text += '%';
        text += ::if_indextoname(v6.sin6_scope_id, name) ? name : std::to_string(v6.sin6_scope_id);
    }
    return text;
}

bool Address::operator==(const Address &other) const
{
    return length == other.length && std::memcmp(&storage, &other.storage, length) == 0;
}

namespace Addresses {

bool hasDottedShape(std::string_view text)
{
    for (int part = 0; part < 3; ++part) {
        const size_t dot = text.find('.', 1); // a leading dot belongs to a fraction
        if (dot == std::string_view::npos || !TextRules::isNumeric(text.substr(0, dot)))
            return false;
        text.remove_prefix(dot + 1);
    }
    return TextRules::isNumeric(text);
}

std::optional<Address> dottedQuad(std::string_view text)
{
    in_addr bytes {};
    uint32_t packed = 0;
    for (int part = 0; part < 4; ++part) {
        // Exactly four parts: a dot ends each of the first three, nothing ends the last.
        const size_t dot = text.find('.');
        if ((dot == std::string_view::npos) != (part == 3))
            return std::nullopt;
        const std::string_view digits = text.substr(0, dot);
        if (digits.empty() || digits.size() > 3
            || !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
            return std::nullopt;
        const int value = std::stoi(std::string(digits));
        if (value > 255)
            return std::nullopt;
        packed = packed << 8 | static_cast<uint32_t>(value);
        text.remove_prefix(part == 3 ? text.size() : dot + 1);
    }
    bytes.s_addr = htonl(packed);
    Address address;
    auto &v4 = reinterpret_cast<sockaddr_in &>(address.storage);
    v4.sin_family = AF_INET;
    v4.sin_addr = bytes;
    address.length = sizeof v4;
    return address;
}

namespace {

    LookUp resolve(const std::string &name)
    {
        addrinfo hints {};
        hints.ai_family = AF_UNSPEC;
        hints.ai_socktype = SOCK_STREAM; // one entry per address
        hints.ai_flags = AI_CANONNAME;
        addrinfo *found = nullptr;
        LookUp result;
        const int error = ::getaddrinfo(name.c_str(), nullptr, &hints, &found);
        if (error == 0) {
            if (found && found->ai_canonname)
                result.canonicalName = found->ai_canonname;
            for (const addrinfo *entry = found; entry; entry = entry->ai_next) {
                Address address;
                std::memcpy(&address.storage, entry->ai_addr, entry->ai_addrlen);
                address.length = entry->ai_addrlen;
                if (std::find(result.addresses.begin(), result.addresses.end(), address) == result.addresses.end())
                    result.addresses.push_back(address);
            }
            ::freeaddrinfo(found);
        }
        std::stable_partition(result.addresses.begin(), result.addresses.end(),
            [](const Address &address) { return address.family() == AF_INET; });
        // Only the name's own answer says it is not there; a resolver that fails or
        // never answers says nothing about the name.
        const bool missing = error == 0 || error == EAI_NONAME || error == EAI_NODATA || error == EAI_ADDRFAMILY;
        result.found = !result.addresses.empty() ? Found::Addresses : missing ? Found::NoSuchHost : Found::LookUpFailed;
        return result;
    }

} // namespace

std::optional<Address> literal(std::string_view name)
{
    std::string_view text = TextRules::trimSpaces(name);
    if (auto address = dottedQuad(text))
        return address;
    if (text.size() >= 2 && text.front() == '[' && text.back() == ']')
        text = text.substr(1, text.size() - 2);
    if (text.find(':') == std::string_view::npos)
        return std::nullopt;
    addrinfo hints {};
    hints.ai_family = AF_INET6;
    hints.ai_flags = AI_NUMERICHOST;
    addrinfo *found = nullptr;
    if (::getaddrinfo(std::string(text).c_str(), nullptr, &hints, &found) != 0)
        return std::nullopt;
    Address address;
    std::memcpy(&address.storage, found->ai_addr, found->ai_addrlen);
    address.length = found->ai_addrlen;
    ::freeaddrinfo(found);
    return address;
}

// What the look-up thread shares with whoever waits for it; the waiter may go
// away first, and the thread's answer then goes nowhere.
struct LookUpInProgress::Pending {
    std::mutex mutex;
    int ready = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    std::optional<LookUp> answer;
    ~Pending() { ::close(ready); }
};

LookUpInProgress::LookUpInProgress(std::string_view name)
    : m_pending(std::make_shared<Pending>())
{
    const std::string trimmed(TextRules::trimSpaces(name));
    const auto deliver = [](const std::shared_ptr<Pending> &pending, LookUp found) {
        const std::lock_guard<std::mutex> lock(pending->mutex);
        pending->answer = std::move(found);
        const uint64_t one = 1;
        [[maybe_unused]] const auto written = ::write(pending->ready, &one, sizeof one);
    };
    // Without a descriptor to wait on (none left), the answer is had at once.
    if (trimmed.empty() || trimmed.find('\0') != std::string::npos || m_pending->ready < 0) {
        deliver(m_pending, trimmed.empty() || trimmed.find('\0') != std::string::npos ? LookUp {} : resolve(trimmed));
        return;
    }
    try {
        std::thread([deliver, pending = m_pending, trimmed] { deliver(pending, resolve(trimmed)); }).detach();
    } catch (const std::system_error &) {
        deliver(m_pending, { Found::LookUpFailed, {}, {} }); // no thread to be had
    }
}

LookUp LookUpInProgress::answer(Wait::Deadline deadline, Wait::Waiter &waiter) const
{
    for (;;) {
        {
            const std::lock_guard<std::mutex> lock(m_pending->mutex);
            if (m_pending->answer)
                return *m_pending->answer;
        }
        if (!waiter.wait(m_pending->ready, POLLIN, deadline))
            return { waiter.abandoned() ? Found::Abandoned : Found::TimedOut, {}, {} };
    }
}

LookUp lookUp(std::string_view name, Wait::Deadline deadline, Wait::Waiter &waiter)
{
    if (waiter.abandoned())
        return { Found::Abandoned, {}, {} };
    return LookUpInProgress(name).answer(deadline, waiter);
}

std::optional<LookUp> withoutLookUp(std::string_view name)
{
    if (auto address = literal(name))
        return LookUp { Found::Addresses, { *address }, {} };
    const std::string_view trimmed = TextRules::trimSpaces(name);
    const size_t longest = kLongestName + (!trimmed.empty() && trimmed.back() == '.');
    if (hasDottedShape(trimmed) || trimmed.size() > longest)
        return LookUp {};
    return std::nullopt;
}

LookUp ofDevice(std::string_view name, Wait::Deadline deadline, Wait::Waiter &waiter)
{
    if (auto known = withoutLookUp(name))
        return *known;
    return lookUp(TextRules::trimSpaces(name), deadline, waiter);
}

} // namespace Addresses
