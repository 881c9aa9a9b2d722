// The real program sending the result mail from an unattended run, as a
// scheduler runs it: no display, a calling sequence, the logs beside it, the
// reason of a failed mail on standard error.
#include "LoopbackPeers.h"
#include "LoopbackResolver.h"
#include "ProgramFolder.h"
#include "SmtpServer.h"

#include <QTest>

class TestUnattendedMail : public QObject {
    Q_OBJECT
    std::string m_unconfined; // why look-ups could not be kept on loopback

private slots:
    // Every look-up goes to a name server on loopback that never answers.
    void initTestCase()
    {
        const std::string server = LoopbackResolver::silentNameServer();
        if (server.empty() || !LoopbackResolver::confine(&m_unconfined, { server, {}, "timeout:5 attempts:2" }))
            m_unconfined += " (no silent name server)";
    }
    void init()
    {
        if (!m_unconfined.empty())
            QSKIP(m_unconfined.c_str());
    }
    void mailStep_data();
    void mailStep();
    void silentResolverDoesNotHoldTheRun();
};

void TestUnattendedMail::mailStep_data()
{
    QTest::addColumn<bool>("deviceOpen");
    QTest::addColumn<QString>("trigger");
    QTest::addColumn<QString>("server"); // "up", "down", "reject" (nobody@test) or "exim"
    QTest::addColumn<QString>("recipients");
    QTest::addColumn<QStringList>("delivered"); // to whom, "" for no mail tried
    QTest::addColumn<QString>("standardError"); // %1: the port of a server that is down

    QTest::newRow("failed, PASS: no mail") << false << "PASS"
                                           << "up"
                                           << "ops@test" << QStringList {} << "";
    QTest::newRow("server down") << true << "PASS"
                                 << "down"
                                 << "ops@test" << QStringList {} << "mail: Connection refused (127.0.0.1:%1)\n";
    QTest::newRow("a recipient refused") << false << "FAIL"
                                         << "reject"
                                         << "nobody@test,ops@test" << QStringList { "ops@test" }
                                         << "mail: RCPT TO:<nobody@test> refused: 550 5.1.1 unknown user\n";
    // Stock exim checks that the sender is qualified and the headers well formed.
    QTest::newRow("exim, two recipients") << true << "PASS"
                                          << "exim"
                                          << "a@ostrel-test.example,b@ostrel-test.example"
                                          << QStringList { "a@ostrel-test.example", "b@ostrel-test.example" } << "";
}

void TestUnattendedMail::mailStep()
{
    QFETCH(bool, deviceOpen);
    QFETCH(QString, trigger);
    QFETCH(QString, server);
    QFETCH(QString, recipients);
    QFETCH(QStringList, delivered);
    QFETCH(QString, standardError);

    const LoopbackPort device = deviceOpen ? LoopbackPort::open() : LoopbackPort::refused();
    const LoopbackPort down = LoopbackPort::refused();
    const bool exim = server == QLatin1String("exim");
    SmtpServer smtp(exim ? QStringLiteral("--exim") : QStringLiteral("--reject-recipient nobody@test"));
    QVERIFY2(smtp.isRunning(), qPrintable(smtp.failure()));
    const QString address
        = server == QLatin1String("down") ? QStringLiteral("127.0.0.1:%1").arg(down.port()) : smtp.address();
    ProgramFolder program;
    const auto run = program.run(
        { QStringLiteral("127.0.0.1,%1,5,%2,,,%3,%4").arg(device.port()).arg(trigger, address, recipients) });
    QVERIFY(run.finished);
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(QString::fromLocal8Bit(run.standardError),
        standardError.replace(QStringLiteral("%1"), QString::number(down.port())));

    const QString outcome = QStringLiteral("Port %1 on device 127.0.0.1 is %2")
                                .arg(device.port())
                                .arg(deviceOpen ? QStringLiteral("available.") : QStringLiteral("un-available."));
    QStringList errors;
    if (!deviceOpen)
        errors << outcome;
    if (!standardError.isEmpty())
        errors << QStringLiteral("Error sending SMTP email.");
    QCOMPARE(program.logMessages(QStringLiteral("error.log")),
        errors.isEmpty() ? std::nullopt : std::optional<QStringList>(errors));

    // Exim delivers a copy to each recipient.
    QTRY_COMPARE_WITH_TIMEOUT(smtp.messages().size(), exim ? 2 : int(!delivered.isEmpty()), 5000);
    QStringList envelope;
    for (const auto &message : smtp.messages()) {
        QCOMPARE(message.parseError, QString());
        envelope += message.rcptTos;
        QVERIFY2(message.mailFrom.startsWith(QStringLiteral("ostrel@")), qPrintable(message.mailFrom));
        QCOMPARE(message.header("Subject"),
            QStringList { (deviceOpen ? QStringLiteral("Port Check Passed on device ")
                                      : QStringLiteral("Port Check Failed on device "))
                + QStringLiteral("127.0.0.1") });
        QCOMPARE(message.body.trimmed(), outcome);
    }
    envelope.sort();
    QCOMPARE(envelope, delivered);
}

// A mail server whose name the resolver never answers: the run ends once the
// mail step gives up (100 ms with the bounds scaled), not when the look-up would.
void TestUnattendedMail::silentResolverDoesNotHoldTheRun()
{
    const LoopbackPort device = LoopbackPort::open(), down = LoopbackPort::refused();
    ProgramFolder program;
    QProcessEnvironment environment = ProgramFolder::headless();
    environment.insert(QStringLiteral("OSTREL_TEST_MAIL_TIME_SCALE"), QStringLiteral("100"));
    const auto timed = [&](const QString &mailServer) {
        const auto run
            = program.run({ QStringLiteral("127.0.0.1,%1,5,PASS,,,%2,ops@test").arg(device.port()).arg(mailServer) },
                30000, environment);
        return run.finished && run.exitCode == 0 ? run.elapsedMs : -1;
    };
    // A server that refuses at once gives the start-up costs.
    const qint64 baseline = timed(QStringLiteral("127.0.0.1:%1").arg(down.port()));
    const qint64 elapsed = timed(QStringLiteral("mail.ostrel-test.example"));
    QVERIFY(baseline >= 0 && elapsed >= 0);
    QVERIFY2(
        elapsed < baseline + 100 + 300, qPrintable(QStringLiteral("%1 ms, baseline %2 ms").arg(elapsed).arg(baseline)));
    QCOMPARE(program.logMessages(QStringLiteral("error.log")), QStringList { "Error sending SMTP email." });
}

QTEST_GUILESS_MAIN(TestUnattendedMail)
#include "tst_unattendedmail.moc"
