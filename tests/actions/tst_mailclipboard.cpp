// Sending a mail leaves the user's clipboard as it was.
#include "LoopbackPeers.h"
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
    void clipboardIsUntouched_data();
    void clipboardIsUntouched();
};

void TestMailClipboard::clipboardIsUntouched_data()
{
    QTest::addColumn<bool>("reachable");
    QTest::newRow("mail sent") << true;
    QTest::newRow("mail failed") << false;
}

void TestMailClipboard::clipboardIsUntouched()
{
    QFETCH(bool, reachable);
    QClipboard *clipboard = QApplication::clipboard();
    const QString mine = QStringLiteral("the user's own text");
    clipboard->setText(mine);
    QCOMPARE(clipboard->text(), mine);   // this platform keeps clipboard text at all

    SmtpServer server;
    QVERIFY2(server.isRunning(), qPrintable(server.failure()));
    const LoopbackPort down = LoopbackPort::refused();
    MailSender sender;
    const QString address = reachable ? server.address() : QStringLiteral("127.0.0.1:%1").arg(down.port());
    QCOMPARE(modCommand::Send_ResultMail(sender, address, QStringLiteral("ops@test"), QStringLiteral("23"),
                                         QStringLiteral("D"), true),
             reachable);
    QCOMPARE(server.messages().size(), reachable ? 1 : 0);
    QCOMPARE(clipboard->text(), mine);
}

QTEST_MAIN(TestMailClipboard)
#include "tst_mailclipboard.moc"
