#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QStringView>
#include <optional>

// The texts of the result mail on the wire, as functions from text to text:
// SMTP replies as shown, the mail server field, addresses, header fields, the
// message text's line ends, the login from ~/.netrc and the default sender.
// The SMTP client and the message composer only move these texts. Nothing
// read here puts a control character, a blank or anything outside RFC 5321's
// syntax into a command or a header line.
namespace MailFormat {

struct Reply {
    int code = 0;
    QString text; // the lines of a multi-line reply joined by LF
    bool positive() const { return code >= 200 && code < 300; }
    // "550 5.1.1 unknown user": one line of at most 300 bytes, control characters blanked.
    QString summary() const;
};

struct MailServer {
    enum Security { Plain, StartTls, Tls };
    Security security = Plain;
    QString user; // "" when the field names none
    QString host; // an IPv4 or IPv6 address, or a host name in its ASCII form
    quint16 port = 25;
};

// The mail server field: "host", "host:port", "[v6]:port" or a bare IPv6
// address as ever; "smtp://[user@]host[:port]" (STARTTLS, port 587) and
// "smtps://[user@]host[:port]" (TLS from the start, port 465).
std::optional<MailServer> readMailServer(const QString &text);

// One entry as an RFC 5321 mailbox: a dot-string local part (beyond ASCII
// for SMTPUTF8) at a domain in its ASCII (IDNA) form or an address literal
// ("[192.0.2.7]", "[IPv6:2001:db8::5]"). Nothing when the entry is no such address.
struct Address {
    QString local;
    QString domain;
    bool needsUtf8() const;
    QString text() const { return local + QLatin1Char('@') + domain; }
};
std::optional<Address> readAddress(const QString &entry);

// The recipients text split at every ",", entries trimmed: "A,,B" keeps the
// empty entry, "A," gives A alone, blanks alone give one empty entry.
QStringList splitRecipients(const QString &recipients);

// This machine as a mail domain (EHLO): its host name when that is a full
// one, else the address literal ("[192.0.2.7]", "[IPv6:...]").
QString mailDomain(const QString &hostName, const QString &localAddress);

// The sender when the user sets none: the login when it is an address, else
// ostrel@ the mail name (/etc/mailname) when that is a full domain, else
// ostrel@ the host's full name, else ostrel@ the bare host name, which stock
// exim and postfix take where exim refuses an address literal; the literal
// only when no name makes an address (none, or over 254 octets with it).
QString defaultSender(
    const QString &login, const QString &mailName, const QString &hostName, const QString &localAddress);

// One header field ending in CR LF, folded before blanks near 78 octets,
// never a line over 998 octets nor a continuation of blanks alone. Control
// characters become blanks; text beyond printable ASCII goes out as encoded
// words. `name` is a field name of ours, "Subject" or shorter.
QString headerField(const QString &name, const QString &value);
// An address list field ("To: a@x, b@y"), folded between addresses.
QString addressField(const QString &name, const QStringList &addresses);
// "Name <address>" with the name quoted, or encoded and folded as needed.
QString mailbox(const QString &displayName, const QString &address);

// The message text on the wire: CR, LF and CR LF become CR LF and a "." that
// begins a line is doubled. The state carries over from one piece to the next.
struct WireState {
    bool atLineStart = true;
    bool afterCr = false;
};
QByteArray toWire(QStringView piece, WireState &state);

// Login and password for `host` from the text of a .netrc file, read as curl
// and ftp read it: the first "machine" entry for the host, else the first
// "default" entry; `user` when given must be the entry's login. An entry
// ends where the next "machine" or "default" begins, so no entry ever lends
// another its password. Nothing when a quote is left open.
struct Login {
    QString user;
    QString password;
};
std::optional<Login> netrcLogin(const QString &netrc, const QString &host, const QString &user);

} // namespace MailFormat
