#pragma once

#include <string>

// A mail message composed part by part and rendered as RFC 5322 text: Date,
// From, To, Subject, Message-ID and MIME headers over a text/plain UTF-8
// body, lines ending in CR LF. Header values are written so that nothing in
// them can start another header. Texts are UTF-8.
class MailMessageControl {
public:
    void SetTo(const std::string &recipients);
    void SetFrom(const std::string &sender);
    // The sender's address beside its name ("Ostrel <ostrel@host>"), and
    // whether header addresses may carry UTF-8 (the server takes SMTPUTF8).
    void SetSenderAddress(const std::string &address, bool utf8Headers);
    void SetSubject(const std::string &subject);
    void SetText(const std::string &text);

    // The whole message as it goes to the server.
    std::string Export() const;

private:
    std::string m_to;
    std::string m_from;
    std::string m_senderAddress;
    bool m_utf8Headers = false;
    std::string m_subject;
    std::string m_text;
};
