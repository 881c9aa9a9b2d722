#pragma once

#include <QObject>
#include <QString>

// A mail message composed part by part and rendered as RFC 5322 text: Date,
// From, To, Subject, Message-ID and MIME headers over a text/plain UTF-8 body.
// Header values are written so that nothing in them can start another header.
class MailMessageControl : public QObject {
    Q_OBJECT
public:
    explicit MailMessageControl(QObject *parent = nullptr);

    // Written as 0 before composing; the component has no use for it.
    void SetReserved1(qint16 value);

    // Forgets the previous message's parts, so nothing of an earlier mail reaches the next.
    void ClearMessage();

    void SetTo(const QString &recipients);
    void SetFrom(const QString &sender);
    // The sender's address beside its name ("Ostrel <ostrel@host>"), and
    // whether header addresses may carry UTF-8 (the server takes SMTPUTF8).
    void SetSenderAddress(const QString &address, bool utf8Headers);
    void SetSubject(const QString &subject);
    void SetText(const QString &text);

    // Renders the whole message into the program's own text store (TextStore).
    void Export();

private:
    QString render() const;

    QString m_to;
    QString m_from;
    QString m_senderAddress;
    bool m_utf8Headers = false;
    QString m_subject;
    QString m_text;
};
