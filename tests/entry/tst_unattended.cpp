// The real program, copied into a folder of its own and run the way a
// scheduler runs it: no display, a calling sequence, the logs beside it.
#include "LoopbackPeers.h"
#include "LoopbackResolver.h"
#include "MarkerScript.h"
#include "ProgramFolder.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTest>

namespace {

const QString kSuccess = QStringLiteral("success.log");
const QString kError = QStringLiteral("error.log");
const QStringList kRejected{QStringLiteral("Port check not performed: Incorrect calling sequence."),
                            QStringLiteral("Type OSTREL /? for calling sequence help.")};

void writeFile(const QString &path, const QByteArray &content)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(content);
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class TestUnattended : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void checkOutcome_data();
    void checkOutcome();
    void oldLogsAreDeletedFirst();
    void helpAnywhereShowsTheCallingSequence_data();
    void helpAnywhereShowsTheCallingSequence();
    void emptyCommandLineWithoutDisplayFailsCleanly();
    void commandOnMatchingTrigger_data();
    void commandOnMatchingTrigger();
    void failedCheckStartsCommand_data();
    void failedCheckStartsCommand();

private:
    bool m_resolverConfined = false;
    QString m_resolverWhy;
};

void TestUnattended::initTestCase()
{
    // A name server that never answers, asked for 2 s: a look-up that should
    // not happen shows in the time a run takes.
    const QByteArray server = LoopbackResolver::silentNameServer();
    m_resolverConfined = !server.isEmpty()
        && LoopbackResolver::confine(&m_resolverWhy, {server, "::1 v6only.test", "timeout:2 attempts:1"});
}

void TestUnattended::checkOutcome_data()
{
    QTest::addColumn<QString>("device");
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("listener");
    QTest::addColumn<QString>("portText");   // "%1" stands for the listener's port
    QTest::addColumn<QString>("timeout");
    QTest::addColumn<bool>("available");

    const QString loopback = QStringLiteral("127.0.0.1");
    const QString v6 = QStringLiteral("::1");
    QTest::newRow("open port") << loopback << "open" << loopback << "%1" << "5" << true;
    QTest::newRow("refused port") << loopback << "refused" << loopback << "%1" << "5" << false;
    QTest::newRow("silent port, timeout 2") << loopback << "blackholed" << loopback << "%1" << "2" << false;
    QTest::newRow("port that is no number") << loopback << "open" << loopback << "port%1" << "5" << false;
    QTest::newRow("timeout that is no number") << loopback << "open" << loopback << "%1" << "soon" << false;
    QTest::newRow("host name") << "localhost" << "open" << loopback << "%1" << "5" << true;
    QTest::newRow("name that does not resolve") << "nohost.invalid" << "open" << loopback << "%1" << "5" << false;
    QTest::newRow("IPv6 open port") << v6 << "open" << v6 << "%1" << "5" << true;
    QTest::newRow("IPv6 in brackets") << "[::1]" << "open" << v6 << "%1" << "5" << true;
    QTest::newRow("IPv6 refused port") << v6 << "refused" << v6 << "%1" << "5" << false;
    QTest::newRow("IPv6 silent port, timeout 2") << v6 << "blackholed" << v6 << "%1" << "2" << false;
    QTest::newRow("name with only an IPv6 address") << "v6only.test" << "open" << v6 << "%1" << "5" << true;
    // Dotted, but no address: failing at once, never asking the silent resolver.
    QTest::newRow("999.1.1.1") << "999.1.1.1" << "open" << loopback << "%1" << "1" << false;
    QTest::newRow("10.0.0.1.5") << "10.0.0.1.5" << "open" << loopback << "%1" << "1" << false;
}

void TestUnattended::checkOutcome()
{
    QFETCH(QString, device);
    QFETCH(QString, kind);
    QFETCH(QString, listener);
    QFETCH(QString, portText);
    QFETCH(QString, timeout);
    QFETCH(bool, available);
    if (!m_resolverConfined)
        QSKIP(qPrintable(QStringLiteral("a look-up that fails would ask the network: ") + m_resolverWhy));

    const LoopbackPort port = kind == QLatin1String("open") ? LoopbackPort::open(listener)
        : kind == QLatin1String("refused")                   ? LoopbackPort::refused(listener)
                                                             : LoopbackPort::blackholed(listener);
    const QString typedPort = portText.arg(port.port());
    ProgramFolder program;
    QElapsedTimer clock;
    clock.start();
    // As a shell passes `ostrel device, port, timeout`: three arguments, joined with blanks.
    const auto run = program.run({device + QLatin1Char(','), typedPort + QLatin1Char(','), timeout});
    const qint64 elapsed = clock.elapsed();
    QVERIFY(run.finished);
    // The process ends when its work ends: nothing left waiting for a look-up.
    const int limitMs = (timeout.toInt() > 0 ? timeout.toInt() : 5) * 1000 + 300;
    QVERIFY2(elapsed < limitMs, qPrintable(QStringLiteral("%1 ms").arg(elapsed)));
    QCOMPARE(run.exitStatus, QProcess::NormalExit);
    QCOMPARE(run.exitCode, 0);   // the outcome is in the logs, never in the exit status

    // The line names the port and the device as typed, never the address.
    const QString subject = QStringLiteral("Port ") + typedPort + QStringLiteral(" on device ") + device;
    const QString outcome = available ? QStringLiteral(" is available.") : QStringLiteral(" is un-available.");
    QCOMPARE(program.logMessages(available ? kSuccess : kError), QStringList{subject + outcome});
    QVERIFY(!program.logMessages(available ? kError : kSuccess));
}

void TestUnattended::oldLogsAreDeletedFirst()
{
    const LoopbackPort port = LoopbackPort::open();
    ProgramFolder program;
    writeFile(program.filePath(kSuccess), "old success\r\n");
    writeFile(program.filePath(kError), "old error\r\n");
    QVERIFY(program.run({QStringLiteral("127.0.0.1,%1,5").arg(port.port())}).finished);
    QCOMPARE(program.logMessages(kSuccess)->size(), 1);
    QVERIFY(!program.logMessages(kError));

    // A second run, rejected: only its own two lines remain.
    const auto rejected = program.run({QStringLiteral("127.0.0.1")});
    QVERIFY(rejected.finished);
    QCOMPARE(rejected.exitCode, 0);
    QVERIFY(!program.logMessages(kSuccess));
    QCOMPARE(program.logMessages(kError), kRejected);
}

void TestUnattended::helpAnywhereShowsTheCallingSequence_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::newRow("alone") << QStringList{"/?"};
    QTest::newRow("inside a command field") << QStringList{"127.0.0.1,23,15,FAIL,tool/?"};
}

void TestUnattended::helpAnywhereShowsTheCallingSequence()
{
    QFETCH(QStringList, arguments);
    ProgramFolder program;
    writeFile(program.filePath(kError), "kept\r\n");
    const auto run = program.run(arguments, 20000);
    QVERIFY(run.finished);
    QCOMPARE(run.exitCode, 0);

    const QStringList lines = QString::fromUtf8(run.standardOutput).split(QLatin1Char('\n'));
    QCOMPARE(lines.size(), 10);   // nine lines and the final line end
    QCOMPARE(lines.at(0), QStringLiteral("Use the following calling sequence..."));
    QVERIFY(lines.at(2).startsWith(
        QStringLiteral("OSTREL DeviceName,PortNumber,Timeout,PASS or FAIL,Command,Argument,MailServer,")));
    QVERIFY(lines.at(2).endsWith(QStringLiteral("...")));
    QCOMPARE(lines.at(4), QStringLiteral("Example 1...(ping a server if port check fails)"));
    QVERIFY(lines.at(5).endsWith(QStringLiteral(", 23, 15, FAIL, c:\\winnt\\ping.exe")));
    QCOMPARE(lines.at(7), QStringLiteral("Example 2...(send an email if port check passes)"));
    QVERIFY(lines.at(8).contains(QStringLiteral(", 23, 15, PASS, , , ")));
    for (int empty : {1, 3, 6, 9})
        QVERIFY(lines.at(empty).isEmpty());

    // No check ran: the logs are as they were.
    QCOMPARE(readFile(program.filePath(kError)), QByteArray("kept\r\n"));
    QVERIFY(!QFile::exists(program.filePath(kSuccess)));
}

void TestUnattended::emptyCommandLineWithoutDisplayFailsCleanly()
{
    ProgramFolder program;
    const auto run = program.run({}, 20000);
    QVERIFY(run.finished);
    QCOMPARE(run.exitStatus, QProcess::NormalExit);
    QVERIFY(run.standardError.startsWith("Error loading main form, "));
    QVERIFY(!QFile::exists(program.filePath(kError)));
}

// A command that cannot start shows synchronously, in the error log, whether it was run.
void TestUnattended::commandOnMatchingTrigger_data()
{
    QTest::addColumn<bool>("portOpen");
    QTest::addColumn<QString>("trigger");
    QTest::addColumn<bool>("started");

    QTest::newRow("FAIL, check failed: started, error after the result line") << false << "FAIL" << true;
    QTest::newRow("FAIL, check passed: not started") << true << "FAIL" << false;
    QTest::newRow("PASS, check passed: started") << true << "PASS" << true;
    QTest::newRow("PASS, check failed: not started") << false << "PASS" << false;
}

void TestUnattended::commandOnMatchingTrigger()
{
    QFETCH(bool, portOpen);
    QFETCH(QString, trigger);
    QFETCH(bool, started);

    const LoopbackPort port = portOpen ? LoopbackPort::open() : LoopbackPort::refused();
    ProgramFolder program;
    QVERIFY(program.run({QStringLiteral("127.0.0.1,%1,5,%2,/nonexistent/tool,some argument")
                             .arg(port.port())
                             .arg(trigger)})
                .finished);
    const QString result = QStringLiteral("Port %1 on device 127.0.0.1 is ").arg(port.port())
        + (portOpen ? QStringLiteral("available.") : QStringLiteral("un-available."));
    QStringList errors = portOpen ? QStringList{} : QStringList{result};
    if (started)
        errors << QStringLiteral("Error executing specified command, /nonexistent/tool");
    QCOMPARE(program.logMessages(kSuccess).value_or(QStringList{}), portOpen ? QStringList{result} : QStringList{});
    QCOMPARE(program.logMessages(kError).value_or(QStringList{}), errors);
}

void TestUnattended::failedCheckStartsCommand_data()
{
    QTest::addColumn<QString>("switchText");
    QTest::addColumn<bool>("readOnlyFolder");   // then run as another user than root, who ignores it
    QTest::newRow("normal") << "" << false;
    // A lost result line does not cost the follow-up command.
    QTest::newRow("silent switch, read-only program folder") << " /s" << true;
}

void TestUnattended::failedCheckStartsCommand()
{
    QFETCH(QString, switchText);
    QFETCH(bool, readOnlyFolder);

    const LoopbackPort port = LoopbackPort::refused();
    const MarkerScript script;
    ProgramFolder program;
    const QString sequence = QStringLiteral("127.0.0.1,%1,5,FAIL,%2%3,\"two words\" plain")
                                 .arg(port.port())
                                 .arg(script.path(), switchText);
    const auto everyone = QFile::ReadOwner | QFile::ExeOwner | QFile::ReadGroup | QFile::ExeGroup
        | QFile::ReadOther | QFile::ExeOther;
    if (readOnlyFolder)
        QVERIFY(QFile::setPermissions(program.path(), everyone));
    const auto run = readOnlyFolder ? program.runAsNobody({sequence}) : program.run({sequence});
    QVERIFY(QFile::setPermissions(program.path(), everyone | QFile::WriteOwner));
    QVERIFY(run.finished);
    QCOMPARE(run.exitStatus, QProcess::NormalExit);
    QCOMPARE(run.exitCode, 0);
    if (readOnlyFolder)
        QVERIFY(!program.logMessages(kError));
    else
        QCOMPARE(program.logMessages(kError),
                 QStringList{QStringLiteral("Port %1 on device 127.0.0.1 is un-available.").arg(port.port())});
    QVERIFY(!program.logMessages(kSuccess));

    // Started detached: the program may have ended before the script wrote its marker.
    QVERIFY(script.waitForMarker());
    const auto record = script.record();
    QVERIFY(record);
    QCOMPARE(record->arguments, (QStringList{QStringLiteral("two words"), QStringLiteral("plain")}));
    QCOMPARE(record->standardOutput == QLatin1String("/dev/null"), !switchText.isEmpty());
}

QTEST_GUILESS_MAIN(TestUnattended)
#include "tst_unattended.moc"
