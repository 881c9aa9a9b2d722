#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>

// A mail message composed part by part and rendered as RFC 5322 text: Date,
// From, To, Subject, Message-ID and MIME headers over a text/plain UTF-8 body, or a
// multipart message when files are attached. Header values are written so
// that nothing in them can start another header.
class MailMessageControl : public QObject {
    Q_OBJECT
public:
    // Codes returned by AttachFile and Export.
    enum Code : int {
        Done = 0,
        FileNotFound = 2,
        AccessDenied = 5,
        WriteFault = 29,
    };

    explicit MailMessageControl(QObject *parent = nullptr);

    // Written as 0 before composing; the component has no use for it.
    void SetReserved1(qint16 value);

    // The two preparation calls: forget the previous message's parts, so
    // nothing of an earlier mail (an attachment above all) reaches the next.
    int ClearMessage();
    int ClearAttachments();

    void SetTo(const QString &recipients);
    void SetFrom(const QString &sender);
    // The sender's address beside its name ("Ostrel <ostrel@host>"), and
    // whether header addresses may carry UTF-8 (the server takes SMTPUTF8).
    void SetSenderAddress(const QString &address, bool utf8Headers);
    void SetSubject(const QString &subject);
    void SetText(const QString &text);

    // Reads the file now; Done when it is attached.
    int AttachFile(const QString &path);

    // Renders the whole message. An empty name puts it into the program's
    // own text store (TextStore); any other name writes it to that file.
    int Export(const QString &fileName);

private:
    struct Attachment {
        QString fileName;
        QByteArray content;
    };

    QString render() const;

    QString m_to;
    QString m_from;
    QString m_senderAddress;
    bool m_utf8Headers = false;
    QString m_subject;
    QString m_text;
    QList<Attachment> m_attachments;
};
