#include "mail/SmtpClientControl.h"

#include "base/Environment.h"
#include "base/TextRules.h"
#include "mail/HeaderFields.h"
#include "mail/MailAddress.h"
#include "mail/Netrc.h"
#include "net/Addresses.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <netinet/in.h>
#include <optional>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <utility>

namespace {

// curl counts its response bound in whole seconds.
long wholeSeconds(int ms) { return (ms + 999) / 1000; }

std::string percentEncoded(const std::string &text)
{
    std::string out;
    for (const char c : text) {
        char escaped[4];
        std::snprintf(escaped, sizeof escaped, "%%%02X", static_cast<unsigned char>(c));
        out += std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-' ? std::string(1, c) : escaped;
    }
    return out;
}

std::string urlHost(const std::string &host) { return host.find(':') != std::string::npos ? '[' + host + ']' : host; }

// The address this machine sends from towards `server`, as routing picks it; no packet leaves.
std::string localAddressTowards(Address server, uint16_t port)
{
    reinterpret_cast<sockaddr_in &>(server.storage).sin_port = htons(port); // the same place in sockaddr_in6
    const int fd = ::socket(server.family(), SOCK_DGRAM | SOCK_CLOEXEC, 0);
    Address local;
    local.length = sizeof local.storage;
    const bool known = fd >= 0 && ::connect(fd, reinterpret_cast<const sockaddr *>(&server.storage), server.length) == 0
        && ::getsockname(fd, reinterpret_cast<sockaddr *>(&local.storage), &local.length) == 0;
    if (fd >= 0)
        ::close(fd);
    return known ? local.text() : std::string();
}

} // namespace

SmtpClientControl::SmtpClientControl(const MailBounds &bounds, const std::atomic<bool> &stop)
    : m_bounds(bounds)
    , m_stop(stop)
{
}

SmtpClientControl::~SmtpClientControl()
{
    if (m_curl)
        curl_easy_cleanup(m_curl);
    curl_slist_free_all(m_rcpt);
    curl_slist_free_all(m_dropped);
    std::fill(m_password.begin(), m_password.end(), '\0');
}

std::string SmtpClientControl::Send(
    const std::string &serverField, const std::vector<std::string> &recipients, MailMessageControl &message)
{
    m_message = &message;
    if (prepare(serverField, recipients))
        run();
    return m_failure;
}

void SmtpClientControl::note(const std::string &why)
{
    if (m_failure.empty())
        m_failure = TextRules::trimSpaces(TextRules::blankControls(why));
}

// The look-ups, the addresses, the login and the sender: everything the session needs before it starts.
bool SmtpClientControl::prepare(const std::string &serverField, const std::vector<std::string> &recipients)
{
    m_field = std::string(TextRules::trimSpaces(serverField));
    const auto server = MailServer::read(m_field);
    if (!server) {
        note("no usable mail server in \"" + m_field + '"');
        return false;
    }
    m_server = *server;
    m_ready = Wait::after(m_bounds.readyMs);
    // This machine's full name, if the resolver knows one, looked up beside the server's name.
    char hostName[HOST_NAME_MAX + 1] = {};
    ::gethostname(hostName, sizeof hostName - 1);
    m_ownName = hostName;
    std::optional<Addresses::LookUpInProgress> ownName;
    if (m_ownName.find('.') == std::string::npos)
        ownName.emplace(m_ownName);

    m_step = Step::LookUp;
    const Addresses::LookUp found = Addresses::ofDevice(m_server.host, m_ready, Wait::polling());
    if (found.found != Addresses::Found::Addresses) {
        if (found.found == Addresses::Found::TimedOut)
            note(timedOut());
        else
            note("the mail server " + m_server.host + " was not found");
        return false;
    }
    m_step = Step::OwnName;
    if (ownName) {
        const Addresses::LookUp own = ownName->answer(m_ready, Wait::polling());
        if (own.found == Addresses::Found::TimedOut) {
            note(timedOut());
            return false;
        }
        if (!own.canonicalName.empty())
            m_ownName = own.canonicalName;
    }
    for (const Address &address : found.addresses)
        m_addresses.push_back(address.text());
    m_localAddress = localAddressTowards(found.addresses.front(), m_server.port);

    // A login only over TLS, with the password from ~/.netrc.
    if (m_server.security != MailServer::Plain) {
        if (const auto login = Netrc::loginOfUser(m_server.host, m_server.user)) {
            m_login = login->user;
            m_password = login->password;
        } else if (!m_server.user.empty()) {
            note("no password for " + m_server.user + " at " + m_server.host + " in ~/.netrc");
            return false;
        }
    }
    const std::string configured(TextRules::trimSpaces(Environment::get("OSTREL_MAIL_FROM")));
    m_sender = !configured.empty() ? configured
                                   : MailAddress::defaultSender(m_login, Netrc::plainFile("/etc/mailname").value_or(""),
                                       m_ownName, m_localAddress);
    if (!MailAddress::readMailbox(m_sender)) {
        note("MAIL FROM:<" + m_sender + "> not sent");
        return false;
    }

    // An empty entry adds nobody, and one that is no address is never sent; the others still get the mail.
    for (const std::string &entry : recipients) {
        if (TextRules::isBlank(entry))
            continue;
        if (const auto mailbox = MailAddress::readMailbox(entry)) {
            m_recipients.push_back(mailbox->text());
            m_utf8Wanted = m_utf8Wanted || mailbox->needsUtf8();
            m_rcpt = curl_slist_append(m_rcpt, ('<' + mailbox->text() + '>').c_str());
        } else {
            note("RCPT TO:<" + entry + "> not sent: not an address");
        }
    }
    if (!m_rcpt)
        note("DATA not sent: no recipient is an address");
    return m_rcpt != nullptr;
}

void SmtpClientControl::run()
{
    m_curl = curl_easy_init();
    CURLM *multi = curl_multi_init();
    if (!m_curl || !multi) {
        note("the mail cannot be started");
        curl_multi_cleanup(multi);
        return;
    }
    const std::string ehloName = MailAddress::mailDomain(m_ownName, m_localAddress);
    const bool tls = m_server.security == MailServer::Tls;
    const std::string url = std::string(tls ? "smtps://" : "smtp://") + urlHost(m_server.host) + ':'
        + std::to_string(m_server.port) + '/' + percentEncoded(ehloName);
    curl_easy_setopt(m_curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(m_curl, CURLOPT_PROTOCOLS_STR, "smtp,smtps");
    // curl connects to the addresses we looked up; the name stays for the certificate.
    curl_slist *resolve = nullptr;
    if (!Addresses::literal(m_server.host)) {
        std::string pinned = m_server.host + ':' + std::to_string(m_server.port) + ':';
        for (const std::string &address : m_addresses)
            pinned += (pinned.back() == ':' ? "" : ",") + urlHost(address);
        resolve = curl_slist_append(nullptr, pinned.c_str());
        curl_easy_setopt(m_curl, CURLOPT_RESOLVE, resolve);
    }
    curl_easy_setopt(m_curl, CURLOPT_PROXY, ""); // never through a proxy
    curl_easy_setopt(m_curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(m_curl, CURLOPT_FORBID_REUSE, 1L); // QUIT within the session's own bounds
    curl_easy_setopt(m_curl, CURLOPT_ERRORBUFFER, m_curlError);
    // STARTTLS required for smtp://, never a downgrade; plain SMTP exactly as before.
    curl_easy_setopt(
        m_curl, CURLOPT_USE_SSL, m_server.security == MailServer::Plain ? CURLUSESSL_NONE : CURLUSESSL_ALL);
    // libcurl reads no SSL_CERT_FILE or SSL_CERT_DIR itself; OpenSSL's tools do.
    for (const auto &[variable, option] :
        { std::pair { "SSL_CERT_FILE", CURLOPT_CAINFO }, { "SSL_CERT_DIR", CURLOPT_CAPATH } })
        if (Environment::isSet(variable))
            curl_easy_setopt(m_curl, option, Environment::get(variable).c_str());
    if (!m_login.empty()) {
        curl_easy_setopt(m_curl, CURLOPT_USERNAME, m_login.c_str());
        curl_easy_setopt(m_curl, CURLOPT_PASSWORD, m_password.c_str());
        curl_easy_setopt(m_curl, CURLOPT_LOGIN_OPTIONS, "AUTH=PLAIN;AUTH=LOGIN");
    }
    curl_easy_setopt(m_curl, CURLOPT_MAIL_FROM, ('<' + m_sender + '>').c_str());
    curl_easy_setopt(m_curl, CURLOPT_MAIL_RCPT, m_rcpt);
    curl_easy_setopt(m_curl, CURLOPT_MAIL_RCPT_ALLLOWFAILS, 1L);
    curl_easy_setopt(m_curl, CURLOPT_UPLOAD, 1L);
    curl_easy_setopt(m_curl, CURLOPT_READFUNCTION, &SmtpClientControl::read);
    curl_easy_setopt(m_curl, CURLOPT_READDATA, this);
    curl_easy_setopt(m_curl, CURLOPT_HEADERFUNCTION, &SmtpClientControl::header);
    curl_easy_setopt(m_curl, CURLOPT_HEADERDATA, this);
    curl_easy_setopt(m_curl, CURLOPT_VERBOSE, 1L); // to debug(), which sees the commands and nothing else
    curl_easy_setopt(m_curl, CURLOPT_DEBUGFUNCTION, &SmtpClientControl::debug);
    curl_easy_setopt(m_curl, CURLOPT_DEBUGDATA, this);
    curl_easy_setopt(m_curl, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(m_curl, CURLOPT_XFERINFOFUNCTION, &SmtpClientControl::progress);
    curl_easy_setopt(m_curl, CURLOPT_XFERINFODATA, this);
    curl_easy_setopt(m_curl, CURLOPT_OPENSOCKETFUNCTION, &SmtpClientControl::openSocket);
    curl_easy_setopt(m_curl, CURLOPT_OPENSOCKETDATA, this);
    // Our loop keeps the ready and reply bounds and names the step; curl's bounds stand behind them, and
    // curl alone waits for the verdict and the reply to QUIT.
    curl_easy_setopt(m_curl, CURLOPT_CONNECTTIMEOUT_MS, long(Wait::remainingMs(m_ready) + 1000));
    curl_easy_setopt(m_curl, CURLOPT_TIMEOUT_MS, long(m_bounds.wholeMs));
    curl_easy_setopt(m_curl, CURLOPT_SERVER_RESPONSE_TIMEOUT, wholeSeconds(m_bounds.replyMs) + 1);

    m_step = Step::Connect;
    m_whole = Wait::after(m_bounds.wholeMs);
    curl_multi_add_handle(multi, m_curl);
    int running = 1;
    bool ending = false;
    while (curl_multi_perform(multi, &running) == CURLM_OK && running) {
        // A bound that ran out, or a caller gone, ends the session as curl's own time-out does: at once,
        // without QUIT, and never with the end of a message begun (removing the transfer would send it).
        if (!ending && (m_stop || Wait::remainingMs(deadline()) == 0)) {
            note(m_stop ? "the mail was stopped" : timedOut());
            curl_easy_setopt(m_curl, CURLOPT_TIMEOUT_MS, 1L);
            ending = true;
        }
        curl_multi_poll(multi, nullptr, 0, ending ? 1 : Wait::remainingMs(deadline()), nullptr);
    }
    int left = 0;
    const CURLMsg *done = curl_multi_info_read(multi, &left);
    const CURLcode result = done ? done->data.result : CURLE_FAILED_INIT;
    curl_multi_remove_handle(multi, m_curl);
    curl_multi_cleanup(multi);
    curl_slist_free_all(resolve);
    if (result != CURLE_OK)
        note(describe(result));
}

Wait::Deadline SmtpClientControl::deadline() const
{
    return m_step <= Step::Auth ? std::min(m_ready, m_whole) : std::min(m_stepDeadline, m_whole);
}

std::string SmtpClientControl::timedOut() const
{
    std::string step;
    switch (m_step) {
    case Step::LookUp:
        step = "the look-up of " + m_server.host;
        break;
    case Step::OwnName:
        step = "this host's name";
        break;
    case Step::Connect: {
        sockaddr_storage peer {};
        socklen_t length = sizeof peer;
        const bool connected
            = m_socket != CURL_SOCKET_BAD && ::getpeername(m_socket, reinterpret_cast<sockaddr *>(&peer), &length) == 0;
        step = connected ? "greeting" : "connect";
        break;
    }
    case Step::Ehlo:
        step = "EHLO";
        break;
    case Step::Tls:
        step = "TLS";
        break;
    case Step::Auth:
        step = "AUTH";
        break;
    default:
        if (Wait::remainingMs(m_whole) == 0)
            return m_shown + ": the mail took over " + Wait::inSeconds(m_bounds.wholeMs);
        return m_shown + ": no answer within "
            + Wait::inSeconds(m_step == Step::Message ? m_bounds.verdictMs : m_bounds.replyMs);
    }
    return m_field + " was not ready within " + Wait::inSeconds(m_bounds.readyMs) + " (waiting at " + step + ')';
}

std::string SmtpClientControl::describe(CURLcode result) const
{
    const std::string where = " (" + m_server.host + ':' + std::to_string(m_server.port) + ')';
    long systemError = 0;
    switch (result) {
    case CURLE_ABORTED_BY_CALLBACK:
        return "the mail was stopped";
    case CURLE_OPERATION_TIMEDOUT:
        return timedOut();
    case CURLE_COULDNT_CONNECT:
        curl_easy_getinfo(m_curl, CURLINFO_OS_ERRNO, &systemError);
        return (systemError ? std::strerror(int(systemError)) : m_curlError) + where;
    case CURLE_USE_SSL_FAILED:
        return m_server.host + " does not offer STARTTLS";
    case CURLE_LOGIN_DENIED:
        return m_server.host + " offers no AUTH PLAIN or LOGIN";
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_SSL_CACERT_BADFILE:
        return "TLS with " + m_server.host + " failed: " + m_curlError;
    default:
        return (*m_curlError ? m_curlError : curl_easy_strerror(result)) + where;
    }
}

// Commands as they went out. Nothing of the login is kept: after AUTH only
// a line with a blank or a colon, which base64 never holds, is a command.
void SmtpClientControl::onCommand(std::string_view line)
{
    line = line.substr(0, line.find_first_of("\r\n"));
    const std::string_view verb = line.substr(0, line.find_first_of(" :"));
    if (m_step == Step::Auth && line.find_first_of(" :") == std::string_view::npos)
        return;
    const std::pair<std::string_view, Step> steps[]
        = { { "EHLO", Step::Ehlo }, { "HELO", Step::Ehlo }, { "STARTTLS", Step::Tls }, { "AUTH", Step::Auth },
              { "MAIL", Step::Mail }, { "RCPT", Step::Rcpt }, { "DATA", Step::Data } };
    m_quitSent = m_quitSent || verb == "QUIT"; // its reply decides nothing
    const auto known
        = std::find_if(std::begin(steps), std::end(steps), [verb](const auto &step) { return step.first == verb; });
    if (known == std::end(steps))
        return;
    m_verb = verb;
    m_step = known->second;
    m_stepDeadline = Wait::after(m_bounds.replyMs);
    // The address without curl's parameters ("SMTPUTF8").
    m_shown = m_step == Step::Mail || m_step == Step::Rcpt ? std::string(line.substr(0, line.find('>') + 1))
                                                           : std::string(verb);
    if (m_step == Step::Mail)
        keepRecipientsTheServerTakes();
}

// A local part beyond ASCII goes out only where the server offers SMTPUTF8;
// the others still get the mail. curl reads the list when it sends RCPT.
void SmtpClientControl::keepRecipientsTheServerTakes()
{
    if (m_offersUtf8 || !m_utf8Wanted)
        return;
    std::vector<curl_slist *> nodes;
    for (curl_slist *node = m_rcpt; node; node = node->next)
        nodes.push_back(node);
    size_t kept = 0;
    for (curl_slist *node : nodes) {
        const std::string_view address(node->data);
        if (MailAddress::readMailbox(address.substr(1, address.size() - 2))->needsUtf8())
            note(std::string("RCPT TO:") + node->data + " not sent: the server does not offer SMTPUTF8");
        else
            std::swap(nodes[kept++]->data, node->data);
    }
    m_abort = kept == 0; // nothing to send: ended at the sender's reply
    if (kept > 0 && kept < nodes.size()) {
        nodes[kept - 1]->next = nullptr;
        m_dropped = nodes[kept];
    }
}

void SmtpClientControl::onReplyLine(std::string_view line)
{
    line = line.substr(0, line.find_first_of("\r\n"));
    // As curl reads them: a line without a code belongs to no reply.
    if (line.size() < 3 || !std::all_of(line.begin(), line.begin() + 3, [](char c) { return c >= '0' && c <= '9'; }))
        return;
    const std::string_view text = line.size() > 4 ? line.substr(4) : std::string_view();
    if (line.size() > 3 && line[3] == '-') {
        m_replyLines.append(text).append("\n");
        return;
    }
    onReply(std::stoi(std::string(line.substr(0, 3))), std::exchange(m_replyLines, {}) + std::string(text));
}

void SmtpClientControl::onReply(int code, const std::string &text)
{
    if (m_quitSent)
        return;
    const std::string summary(TextRules::cutAtCharacter(HeaderFields::oneLine(std::to_string(code) + ' ' + text), 300));
    const bool refused = code >= 400;
    if (!m_greeted) {
        m_greeted = true;
        if (code != 220)
            note("the greeting refused: " + summary);
    } else if (m_step == Step::Ehlo && !refused) {
        m_offersUtf8 = ("\n" + text).find("\nSMTPUTF8") != std::string::npos; // as curl reads it
    } else if (refused && (m_step != Step::Ehlo || m_server.security != MailServer::Plain || m_verb == "HELO")) {
        // A plain server that knows no EHLO is greeted with HELO (curl's own fallback).
        note((m_step == Step::Message ? "the message" : m_shown) + " refused: " + summary
            + (m_step == Step::Mail ? " (set OSTREL_MAIL_FROM)" : ""));
    }
    if (refused || m_step == Step::Message)
        expectQuit();
}

// QUIT follows; curl waits for its reply within its response bound.
void SmtpClientControl::expectQuit()
{
    curl_easy_setopt(m_curl, CURLOPT_SERVER_RESPONSE_TIMEOUT, wholeSeconds(m_bounds.quitMs));
}

int SmtpClientControl::debug(CURL *, curl_infotype type, char *data, size_t size, void *self)
{
    auto &client = *static_cast<SmtpClientControl *>(self);
    if (type == CURLINFO_HEADER_OUT)
        client.onCommand(std::string_view(data, size));
    else if (type == CURLINFO_SSL_DATA_OUT && client.m_step == Step::Connect)
        client.m_step = Step::Tls; // connected; TLS from the first byte
    return 0;
}

size_t SmtpClientControl::header(char *data, size_t size, size_t count, void *self)
{
    auto &client = *static_cast<SmtpClientControl *>(self);
    client.onReplyLine(std::string_view(data, size * count));
    return client.m_abort || client.m_stop ? 0 : size * count;
}

size_t SmtpClientControl::read(char *buffer, size_t size, size_t count, void *self)
{
    auto &client = *static_cast<SmtpClientControl *>(self);
    // Composed once the server has said whether it takes UTF-8 in addresses.
    if (!client.m_composed) {
        client.m_message->SetSenderAddress(client.m_sender, client.m_utf8Wanted && client.m_offersUtf8);
        client.m_text = client.m_message->Export();
        client.m_composed = true;
    }
    const size_t piece = std::min(size * count, client.m_text.size() - client.m_sent);
    std::memcpy(buffer, client.m_text.data() + client.m_sent, piece);
    client.m_sent += piece;
    if (piece == 0) { // the end of the message goes out now, and curl waits for the verdict within its response bound
        client.m_step = Step::Message;
        client.m_shown = "the end of the message";
        client.m_stepDeadline = Wait::after(client.m_bounds.verdictMs);
        curl_easy_setopt(client.m_curl, CURLOPT_SERVER_RESPONSE_TIMEOUT, wholeSeconds(client.m_bounds.verdictMs));
    }
    return piece;
}

int SmtpClientControl::progress(void *self, curl_off_t, curl_off_t, curl_off_t, curl_off_t)
{
    return static_cast<SmtpClientControl *>(self)->m_stop ? 1 : 0;
}

curl_socket_t SmtpClientControl::openSocket(void *self, curlsocktype, curl_sockaddr *address)
{
    auto &client = *static_cast<SmtpClientControl *>(self);
    client.m_socket = ::socket(address->family, address->socktype | SOCK_CLOEXEC, address->protocol);
    return client.m_socket;
}
