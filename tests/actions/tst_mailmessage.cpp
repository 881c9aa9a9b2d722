// The message composer's text part: CR LF line ends, no added empty line,
// quoted-printable beyond plain 7-bit text.
#include "actions/MailMessageControl.h"
#include "actions/TextStore.h"

#include <QTest>

class TestMailMessage : public QObject
{
    Q_OBJECT
private slots:
    void body_data();
    void body();
};

void TestMailMessage::body_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("encoding");
    QTest::addColumn<QString>("body");

    QTest::newRow("every kind of line end") << "a\nb\rc\r\nd" << "7bit" << "a\r\nb\r\nc\r\nd\r\n";
    QTest::newRow("ends in a line break") << "a\n" << "7bit" << "a\r\n";
    QTest::newRow("beyond ASCII, '=' and a trailing blank")
        << QString::fromUtf8("Grüße = 😀 ") << "quoted-printable" << "Gr=C3=BC=C3=9Fe =3D =F0=9F=98=80=20\r\n";
}

void TestMailMessage::body()
{
    QFETCH(QString, text);
    QFETCH(QString, encoding);
    QFETCH(QString, body);

    MailMessageControl message;
    message.SetText(text);
    TextStore::clear();
    QCOMPARE(message.Export(QString()), int(MailMessageControl::Done));
    const QString all = TextStore::read();
    TextStore::clear();
    const qsizetype end = all.indexOf(QStringLiteral("\r\n\r\n"));
    const QStringList headers = all.left(end).split(QStringLiteral("\r\n"));
    QVERIFY(headers.contains(QStringLiteral("Content-Type: text/plain; charset=UTF-8")));
    QVERIFY(headers.contains(QStringLiteral("Content-Transfer-Encoding: ") + encoding));
    QCOMPARE(all.mid(end + 4), body);
}

QTEST_GUILESS_MAIN(TestMailMessage)
#include "tst_mailmessage.moc"
