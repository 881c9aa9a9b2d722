// Sending a mail leaves the user's clipboard as it was.
#include "SmtpServer.h"
#include "actions/MailSender.h"
#include "actions/ResultMail.h"

#include <QApplication>
#include <QClipboard>
#include <QTest>

class TestMailClipboard : public QObject
{
    Q_OBJECT
private slots:
    void clipboardIsUntouched();
};

void TestMailClipboard::clipboardIsUntouched()
{
    QClipboard *clipboard = QApplication::clipboard();
    const QString mine = QStringLiteral("the user's own text");
    clipboard->setText(mine);
    QCOMPARE(clipboard->text(), mine);   // this platform keeps clipboard text at all

    SmtpServer server;
    QVERIFY2(server.isRunning(), qPrintable(server.failure()));
    MailSender sender;
    QVERIFY(modCommand::Send_ResultMail(sender, server.address(), QStringLiteral("ops@test"), QStringLiteral("23"),
                                        QStringLiteral("D"), true));
    QCOMPARE(server.messages().size(), 1);
    QCOMPARE(clipboard->text(), mine);
}

QTEST_MAIN(TestMailClipboard)
#include "tst_mailclipboard.moc"
