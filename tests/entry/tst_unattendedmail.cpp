// The real program sending the result mail from an unattended run, as a
// scheduler runs it: no display, a calling sequence, the logs beside it.
#include "LoopbackPeers.h"
#include "ProgramFolder.h"
#include "SmtpServer.h"

#include <QTest>

class TestUnattendedMail : public QObject
{
    Q_OBJECT
private slots:
    void mailStep_data();
    void mailStep();
};

void TestUnattendedMail::mailStep_data()
{
    QTest::addColumn<bool>("deviceOpen");
    QTest::addColumn<QString>("trigger");
    QTest::addColumn<bool>("serverUp");
    QTest::addColumn<bool>("mailed");

    QTest::newRow("passed, PASS") << true << "PASS" << true << true;
    QTest::newRow("failed, FAIL") << false << "FAIL" << true << true;
    QTest::newRow("failed, PASS: no mail") << false << "PASS" << true << false;
    QTest::newRow("passed, PASS, server down") << true << "PASS" << false << true;
    QTest::newRow("failed, FAIL, server down") << false << "FAIL" << false << true;
}

void TestUnattendedMail::mailStep()
{
    QFETCH(bool, deviceOpen);
    QFETCH(QString, trigger);
    QFETCH(bool, serverUp);
    QFETCH(bool, mailed);

    const LoopbackPort device = deviceOpen ? LoopbackPort::open() : LoopbackPort::refused();
    const LoopbackPort down = LoopbackPort::refused();
    SmtpServer server;
    QVERIFY2(server.isRunning(), qPrintable(server.failure()));
    ProgramFolder program;
    const auto run = program.run({QStringLiteral("127.0.0.1,%1,5,%2,,,%3,ops@test")
                                      .arg(device.port())
                                      .arg(trigger, serverUp ? server.address()
                                                             : QStringLiteral("127.0.0.1:%1").arg(down.port()))});
    QVERIFY(run.finished);
    QCOMPARE(run.exitCode, 0);

    // The outcome line first, then the mail's error line when it failed.
    const QString outcome = QStringLiteral("Port %1 on device 127.0.0.1 is %2")
                                .arg(device.port())
                                .arg(deviceOpen ? QStringLiteral("available.") : QStringLiteral("un-available."));
    QStringList errors;
    if (!deviceOpen)
        errors << outcome;
    if (mailed && !serverUp)
        errors << QStringLiteral("Error sending SMTP email.");
    QCOMPARE(program.logMessages(QStringLiteral("success.log")),
             deviceOpen ? std::optional<QStringList>(QStringList{outcome}) : std::nullopt);
    QCOMPARE(program.logMessages(QStringLiteral("error.log")),
             errors.isEmpty() ? std::nullopt : std::optional<QStringList>(errors));

    const auto messages = server.messages();
    QCOMPARE(messages.size(), mailed && serverUp ? 1 : 0);
    QCOMPARE(server.connections(), messages.size());
    if (messages.isEmpty())
        return;
    QCOMPARE(messages.at(0).mailFrom, QStringLiteral("Ostrel"));
    QCOMPARE(messages.at(0).rcptTos, QStringList{"ops@test"});
    QCOMPARE(messages.at(0).rawHeader("Subject"),
             QStringList{(deviceOpen ? QStringLiteral("Port Check Passed on device ")
                                     : QStringLiteral("Port Check Failed on device "))
                         + QStringLiteral("127.0.0.1")});
    QCOMPARE(messages.at(0).body, outcome + QStringLiteral("\r\n"));
}

QTEST_GUILESS_MAIN(TestUnattendedMail)
#include "tst_unattendedmail.moc"
