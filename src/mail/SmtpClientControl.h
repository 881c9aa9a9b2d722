#pragma once

#include "base/Wait.h"
#include "mail/MailMessageControl.h"
#include "mail/MailServer.h"

#include <atomic>
#include <curl/curl.h>
#include <string>
#include <vector>

// The time bounds of one mail.
struct MailBounds {
    int readyMs = 10000; // look-ups, connection, greeting, EHLO, TLS, login
    int replyMs = 30000; // the reply to MAIL FROM, RCPT TO or DATA
    int verdictMs = 60000; // the verdict on the whole message (the server may run filters)
    int quitMs = 5000; // the reply to QUIT
    int wholeMs = 120000; // connect to verdict, however slow the server
};

// One SMTP session (RFC 5321) through libcurl, run on the calling thread;
// the transfer is curl's, the texts are ours: the server field, the sender,
// the recipients, the message, the login from ~/.netrc and every reason a
// mail fails. Our loop keeps each bound and names the step a server was
// still waiting at; curl's own time-outs sit a little behind as a backstop.
class SmtpClientControl {
public:
    // `stop` set (the window went away) ends the session at its next event.
    SmtpClientControl(const MailBounds &bounds, const std::atomic<bool> &stop);
    ~SmtpClientControl();
    SmtpClientControl(const SmtpClientControl &) = delete;
    SmtpClientControl &operator=(const SmtpClientControl &) = delete;

    // Sends the message from the first sender address that applies to every
    // recipient that is an address. "" when the server accepted it for each
    // of them; otherwise why, in one line, e.g. "RCPT TO:<x@y> refused: 550
    // 5.1.1 unknown user". The message gets its sender address here.
    std::string Send(
        const std::string &serverField, const std::vector<std::string> &recipients, MailMessageControl &message);

private:
    enum class Step { LookUp, OwnName, Connect, Ehlo, Tls, Auth, Mail, Rcpt, Data, Message };

    bool prepare(const std::string &serverField, const std::vector<std::string> &recipients);
    void run();
    std::string timedOut() const;
    std::string describe(CURLcode result) const;
    Wait::Deadline deadline() const;

    void onCommand(std::string_view line);
    void onReplyLine(std::string_view line);
    void onReply(int code, const std::string &text);
    void keepRecipientsTheServerTakes();
    void note(const std::string &why);
    void expectQuit();

    static int debug(CURL *, curl_infotype type, char *data, size_t size, void *self);
    static size_t header(char *data, size_t size, size_t count, void *self);
    static size_t read(char *buffer, size_t size, size_t count, void *self);
    static int progress(void *self, curl_off_t, curl_off_t, curl_off_t, curl_off_t);
    static curl_socket_t openSocket(void *self, curlsocktype, curl_sockaddr *address);

    MailBounds m_bounds;
    const std::atomic<bool> &m_stop;
    CURL *m_curl = nullptr;
    char m_curlError[CURL_ERROR_SIZE] = {};

    std::string m_field; // as typed, blanks around it dropped
    MailServer m_server;
    std::vector<std::string> m_addresses; // the server's, as curl is told them
    std::string m_ownName;
    std::string m_localAddress;
    std::string m_login, m_password;
    std::string m_sender;
    std::vector<std::string> m_recipients;
    bool m_utf8Wanted = false;
    curl_slist *m_rcpt = nullptr;
    curl_slist *m_dropped = nullptr; // recipients taken out of m_rcpt

    Step m_step = Step::LookUp;
    std::string m_shown; // the command awaited, as shown: "MAIL FROM:<a@b>", "DATA"
    std::string m_verb; // its first word
    Wait::Deadline m_ready {}, m_whole = Wait::kForever, m_stepDeadline = Wait::kForever;
    curl_socket_t m_socket = CURL_SOCKET_BAD;
    bool m_greeted = false, m_offersUtf8 = false, m_abort = false, m_quitSent = false;
    std::string m_replyLines; // a multi-line reply begun
    std::string m_failure; // the first reason
    MailMessageControl *m_message = nullptr;
    std::string m_text;
    size_t m_sent = 0;
    bool m_composed = false;
};
