// The real program sending the result mail from an unattended run, as a
// scheduler runs it: no display, a calling sequence, the logs beside it.
#include "LoopbackPeers.h"
#include "ProgramFolder.h"
#include "SmtpServer.h"

#include <QTest>

namespace {

const QString kSuccess = QStringLiteral("success.log");
const QString kError = QStringLiteral("error.log");
const QString kMailError = QStringLiteral("Error sending SMTP email.");

} // namespace

class TestUnattendedMail : public QObject
{
    Q_OBJECT
private slots:
    void trigger_data();
    void trigger();
    void recipientsAreJoinedWithoutBlanks();
    void serverDownIsLogged_data();
    void serverDownIsLogged();
};

void TestUnattendedMail::trigger_data()
{
    QTest::addColumn<bool>("deviceOpen");
    QTest::addColumn<QString>("trigger");
    QTest::addColumn<bool>("mailed");

    QTest::newRow("passed, PASS") << true << "PASS" << true;
    QTest::newRow("failed, FAIL") << false << "FAIL" << true;
    QTest::newRow("passed, lower-case pass") << true << "pass" << true;
    QTest::newRow("failed, PASS") << false << "PASS" << false;
    QTest::newRow("passed, FAIL") << true << "FAIL" << false;
}

void TestUnattendedMail::trigger()
{
    QFETCH(bool, deviceOpen);
    QFETCH(QString, trigger);
    QFETCH(bool, mailed);

    const LoopbackPort device = deviceOpen ? LoopbackPort::open() : LoopbackPort::refused();
    SmtpServer server;
    QVERIFY2(server.isRunning(), qPrintable(server.failure()));
    ProgramFolder program;
    const auto run = program.run({QStringLiteral("127.0.0.1,%1,5,%2,,,%3,ops@test")
                                      .arg(device.port())
                                      .arg(trigger, server.address())});
    QVERIFY(run.finished);
    QCOMPARE(run.exitCode, 0);

    const QString line = QStringLiteral("Port %1 on device 127.0.0.1 is ").arg(device.port());
    if (deviceOpen) {
        QCOMPARE(program.logMessages(kSuccess), QStringList{line + QStringLiteral("available.")});
        QVERIFY(!program.logMessages(kError));
    } else {
        QCOMPARE(program.logMessages(kError), QStringList{line + QStringLiteral("un-available.")});
        QVERIFY(!program.logMessages(kSuccess));
    }

    const auto messages = server.messages();
    if (!mailed) {
        QCOMPARE(server.connections(), 0);
        QVERIFY(messages.isEmpty());
        return;
    }
    QCOMPARE(messages.size(), 1);
    const auto &message = messages.at(0);
    QCOMPARE(message.mailFrom, QStringLiteral("Ostrel"));
    QCOMPARE(message.rcptTos, QStringList{"ops@test"});
    QCOMPARE(message.rawHeader("Subject"),
             QStringList{(deviceOpen ? QStringLiteral("Port Check Passed on device ")
                                     : QStringLiteral("Port Check Failed on device "))
                         + QStringLiteral("127.0.0.1")});
    QCOMPARE(message.body,
             line + (deviceOpen ? QStringLiteral("available.") : QStringLiteral("un-available.")) + "\r\n");
}

void TestUnattendedMail::recipientsAreJoinedWithoutBlanks()
{
    const LoopbackPort device = LoopbackPort::refused();
    SmtpServer server;
    QVERIFY2(server.isRunning(), qPrintable(server.failure()));
    ProgramFolder program;
    // As a shell passes `ostrel 127.0.0.1, 1234, 5, FAIL, , , server, a@x, ,b@y,`.
    const auto run = program.run({QStringLiteral("127.0.0.1,"), QStringLiteral("%1,").arg(device.port()),
                                  QStringLiteral("5,"), QStringLiteral("FAIL,"), QStringLiteral(","),
                                  QStringLiteral(","), server.address() + QLatin1Char(','), QStringLiteral("a@x,"),
                                  QStringLiteral(",b@y,")});
    QVERIFY(run.finished);
    QCOMPARE(program.logMessages(kError),
             QStringList{QStringLiteral("Port %1 on device 127.0.0.1 is un-available.").arg(device.port())});
    const auto messages = server.messages();
    QCOMPARE(messages.size(), 1);
    QCOMPARE(messages.at(0).rcptTos, (QStringList{"a@x", "b@y"}));
    QCOMPARE(messages.at(0).rawHeader("To"), QStringList{"a@x,,b@y"});
}

void TestUnattendedMail::serverDownIsLogged_data()
{
    QTest::addColumn<bool>("deviceOpen");
    QTest::newRow("passed") << true;
    QTest::newRow("failed") << false;
}

void TestUnattendedMail::serverDownIsLogged()
{
    QFETCH(bool, deviceOpen);
    const LoopbackPort device = deviceOpen ? LoopbackPort::open() : LoopbackPort::refused();
    const LoopbackPort mailServer = LoopbackPort::refused();
    ProgramFolder program;
    const auto run = program.run({QStringLiteral("127.0.0.1,%1,5,%2,,,127.0.0.1:%3,ops@test")
                                      .arg(device.port())
                                      .arg(deviceOpen ? QStringLiteral("PASS") : QStringLiteral("FAIL"))
                                      .arg(mailServer.port())});
    QVERIFY(run.finished);
    QCOMPARE(run.exitCode, 0);
    const QString line = QStringLiteral("Port %1 on device 127.0.0.1 is ").arg(device.port());
    if (deviceOpen) {
        QCOMPARE(program.logMessages(kSuccess), QStringList{line + QStringLiteral("available.")});
        QCOMPARE(program.logMessages(kError), QStringList{kMailError});
    } else {
        QVERIFY(!program.logMessages(kSuccess));
        QCOMPARE(program.logMessages(kError), (QStringList{line + QStringLiteral("un-available."), kMailError}));
    }
}

QTEST_GUILESS_MAIN(TestUnattendedMail)
#include "tst_unattendedmail.moc"
