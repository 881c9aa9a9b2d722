// The message composer's rendering: headers that no value can break out
// of, encoded words, line ends, transfer encodings, attachments and export.
#include "actions/MailMessageControl.h"
#include "actions/TextStore.h"

#include <QFile>
#include <QRegularExpression>
#include <QStringDecoder>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QStringList kHeaderNames{"Date", "From", "To", "Subject", "MIME-Version", "Content-Type",
                               "Content-Transfer-Encoding"};

struct Rendered {
    QStringList headerLines;   // as sent, folded
    QString body;
};

Rendered compose(const QString &to, const QString &from, const QString &subject, const QString &text)
{
    MailMessageControl message;
    message.SetTo(to);
    message.SetFrom(from);
    message.SetSubject(subject);
    message.SetText(text);
    TextStore::clear();
    if (message.Export(QString()) != MailMessageControl::Done)
        return {};
    const QString all = TextStore::read();
    const qsizetype end = all.indexOf(QStringLiteral("\r\n\r\n"));
    return {all.left(end).split(QStringLiteral("\r\n")), all.mid(end + 4)};
}

// Every CR is followed by LF and every LF preceded by CR.
bool onlyCrLf(const QString &text)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text.at(i) == QLatin1Char('\r') && (i + 1 == text.size() || text.at(i + 1) != QLatin1Char('\n')))
            return false;
        if (text.at(i) == QLatin1Char('\n') && (i == 0 || text.at(i - 1) != QLatin1Char('\r')))
            return false;
    }
    return true;
}

// Header name -> unfolded value as sent.
QList<QPair<QString, QString>> unfold(const QStringList &lines)
{
    QList<QPair<QString, QString>> headers;
    for (const QString &line : lines) {
        if (line.startsWith(QLatin1Char(' ')) || line.startsWith(QLatin1Char('\t'))) {
            if (!headers.isEmpty())
                headers.last().second += line;
            continue;
        }
        const qsizetype colon = line.indexOf(QLatin1Char(':'));
        headers.append({line.left(colon), line.mid(colon + 1)});
    }
    return headers;
}

// RFC 2047 decoding of B-encoded UTF-8 words; blanks between two words
// vanish. Each word must decode on its own: no character is split.
std::optional<QString> decodeWords(const QString &value)
{
    static const QRegularExpression word(QStringLiteral("=\\?UTF-8\\?B\\?([A-Za-z0-9+/=]*)\\?="));
    if (!value.contains(QStringLiteral("=?")))
        return value;
    QString decoded;
    qsizetype position = 0;
    auto matches = word.globalMatch(value);
    while (matches.hasNext()) {
        const auto match = matches.next();
        if (!value.mid(position, match.capturedStart() - position).trimmed().isEmpty())
            return std::nullopt;
        QStringDecoder utf8(QStringDecoder::Utf8);
        decoded += utf8(QByteArray::fromBase64(match.captured(1).toLatin1()));
        if (utf8.hasError())
            return std::nullopt;
        position = match.capturedEnd();
    }
    return decoded;
}

} // namespace

class TestMailMessage : public QObject
{
    Q_OBJECT
private slots:
    void headerValues_data();
    void headerValues();
    void body_data();
    void body();
    void attachFile();
    void exportToFile();
};

void TestMailMessage::headerValues_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("expected");   // the value a reader sees

    QString many;
    for (int i = 0; i < 60; ++i)
        many += QStringLiteral("address%1@test, ").arg(i);
    const QString oneLongWord(1500, QLatin1Char('w'));
    const QString beyond = QString::fromUtf8("Gerät-Köln-東京-😀-").repeated(5);

    QTest::newRow("CR LF in the subject") << "Subject" << "D\r\nBcc: evil@test" << "D Bcc: evil@test";
    QTest::newRow("LF and CR in To") << "To" << "a@test\nCc: b@test\rX: y" << "a@test Cc: b@test X: y";
    QTest::newRow("CR LF in From") << "From" << "Ostrel\r\n\r\nbody" << "Ostrel  body";
    QTest::newRow("other control characters") << "Subject" << QStringLiteral("a\x01" "b\x7f" "c\td")
                                               << "a b c\td";
    QTest::newRow("long list, folded at blanks") << "To" << many.trimmed() << many.trimmed();
    QTest::newRow("one word beyond any line") << "Subject" << oneLongWord << oneLongWord;
    QTest::newRow("beyond ASCII") << "Subject" << beyond << beyond;
    QTest::newRow("beyond ASCII with a line break") << "Subject" << QString::fromUtf8("Köln\r\nBcc: x")
                                                    << QString::fromUtf8("Köln Bcc: x");
    QTest::newRow("plain") << "Subject" << "Port Check Passed on device D" << "Port Check Passed on device D";
}

void TestMailMessage::headerValues()
{
    QFETCH(QString, field);
    QFETCH(QString, value);
    QFETCH(QString, expected);

    const Rendered rendered = compose(field == QLatin1String("To") ? value : QStringLiteral("ops@test"),
                                      field == QLatin1String("From") ? value : QStringLiteral("Ostrel"),
                                      field == QLatin1String("Subject") ? value : QStringLiteral("s"),
                                      QStringLiteral("text"));
    QVERIFY(!rendered.headerLines.isEmpty());
    for (const QString &line : rendered.headerLines) {
        QVERIFY2(line.size() <= 998, qPrintable(line.left(80)));
        QVERIFY2(!line.contains(QLatin1Char('\r')) && !line.contains(QLatin1Char('\n')), qPrintable(line));
        QVERIFY(std::all_of(line.cbegin(), line.cend(), [](QChar c) { return c.unicode() < 0x7f; }));
        // Nothing folded ends up on a line of blanks alone.
        QVERIFY(!line.trimmed().isEmpty());
    }

    const auto headers = unfold(rendered.headerLines);
    QStringList names;
    for (const auto &header : headers)
        names << header.first;
    QCOMPARE(names, kHeaderNames);
    const QString sent = headers.at(kHeaderNames.indexOf(field)).second;
    QVERIFY(sent.startsWith(QLatin1Char(' ')));
    const auto decoded = decodeWords(sent.mid(1));
    QVERIFY2(decoded.has_value(), qPrintable(sent));
    QCOMPARE(*decoded, expected);
}

void TestMailMessage::body_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("encoding");
    QTest::addColumn<QString>("body");   // "" when only its shape is checked

    QTest::newRow("one line") << "Port 23 on device D is available." << "7bit"
                              << "Port 23 on device D is available.\r\n";
    QTest::newRow("every kind of line end") << "a\nb\rc\r\nd" << "7bit" << "a\r\nb\r\nc\r\nd\r\n";
    QTest::newRow("ends in a line break") << "a\n" << "7bit" << "a\r\n";
    QTest::newRow("dots stay as they are") << ".\r\n..x" << "7bit" << ".\r\n..x\r\n";
    QTest::newRow("beyond ASCII") << QString::fromUtf8("Grüße = 😀 ") << "quoted-printable"
                                  << "Gr=C3=BC=C3=9Fe =3D =F0=9F=98=80=20\r\n";
    QTest::newRow("line longer than 998") << QString(1200, QLatin1Char('z')) << "quoted-printable" << "";
    QTest::newRow("control character") << QStringLiteral("a\x0c" "b") << "quoted-printable" << "a=0Cb\r\n";
}

void TestMailMessage::body()
{
    QFETCH(QString, text);
    QFETCH(QString, encoding);
    QFETCH(QString, body);

    const Rendered rendered = compose(QStringLiteral("ops@test"), QStringLiteral("Ostrel"), QStringLiteral("s"), text);
    QVERIFY(rendered.headerLines.contains(QStringLiteral("Content-Transfer-Encoding: ") + encoding));
    QVERIFY(rendered.headerLines.contains(QStringLiteral("Content-Type: text/plain; charset=UTF-8")));
    QVERIFY(onlyCrLf(rendered.body));
    if (!body.isEmpty())
        QCOMPARE(rendered.body, body);
    for (const QString &line : rendered.body.split(QStringLiteral("\r\n")))
        QVERIFY(line.size() <= (encoding == QLatin1String("7bit") ? 998 : 76));
    if (body.isEmpty()) {
        // Soft line breaks put back give the text again.
        QCOMPARE(QString(rendered.body).remove(QStringLiteral("=\r\n")), text + QStringLiteral("\r\n"));
    }
}

void TestMailMessage::attachFile()
{
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("data.bin"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(QByteArray("\x00\x01\xff", 3));
    file.close();

    MailMessageControl message;
    QCOMPARE(message.AttachFile(folder.filePath(QStringLiteral("absent"))), int(MailMessageControl::FileNotFound));
    QCOMPARE(message.AttachFile(folder.path()), int(MailMessageControl::FileNotFound));
    QCOMPARE(message.AttachFile(QString()), int(MailMessageControl::FileNotFound));
    QCOMPARE(message.AttachFile(path), int(MailMessageControl::Done));
    QCOMPARE(message.Export(QString()), int(MailMessageControl::Done));
    const QString withFile = TextStore::read();
    QVERIFY(withFile.contains(QStringLiteral("Content-Type: multipart/mixed; boundary=")));
    QVERIFY(withFile.contains(QStringLiteral("filename=\"data.bin\"")));
    QVERIFY(withFile.contains(QStringLiteral("\r\nAAH/\r\n")));   // the three bytes in base64
    QVERIFY(onlyCrLf(withFile));

    // The preparation call forgets it.
    message.ClearAttachments();
    QCOMPARE(message.Export(QString()), int(MailMessageControl::Done));
    QVERIFY(!TextStore::read().contains(QStringLiteral("multipart")));
    TextStore::clear();
}

void TestMailMessage::exportToFile()
{
    QTemporaryDir folder;
    MailMessageControl message;
    message.SetTo(QStringLiteral("ops@test"));
    message.SetText(QStringLiteral("text"));
    const QString path = folder.filePath(QStringLiteral("message.eml"));
    QCOMPARE(message.Export(path), int(MailMessageControl::Done));
    QCOMPARE(message.Export(QString()), int(MailMessageControl::Done));
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    // The same message apart from the moment in its Date line.
    const auto withoutDate = [](QString text) { return text.mid(text.indexOf(QStringLiteral("\r\n"))); };
    QCOMPARE(withoutDate(QString::fromUtf8(file.readAll())), withoutDate(TextStore::read()));
    QVERIFY(message.Export(folder.filePath(QStringLiteral("no/such/folder/m.eml"))) != MailMessageControl::Done);
    TextStore::clear();
}

QTEST_GUILESS_MAIN(TestMailMessage)
#include "tst_mailmessage.moc"
