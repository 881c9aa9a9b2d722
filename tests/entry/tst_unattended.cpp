// The real program, copied into a folder of its own and run the way a
// scheduler runs it: no display, a calling sequence, the logs beside it.
#include "LoopbackPeers.h"
#include "LoopbackResolver.h"
#include "MarkerScript.h"
#include "ProgramFolder.h"

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
    void rejectedSequenceWritesTwoLines();
    void oldLogsAreDeletedFirst();
    void argumentsAreJoinedWithBlanks();
    void helpAnywhereShowsTheCallingSequence_data();
    void helpAnywhereShowsTheCallingSequence();
    void emptyCommandLineWithoutDisplayFailsCleanly();
    void unwritableFolderStillEnds();
    void hostNameDevice_data();
    void hostNameDevice();
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
    m_resolverConfined = LoopbackResolver::confine(&m_resolverWhy);
}

void TestUnattended::checkOutcome_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("portText");   // "%1" stands for the listener's port
    QTest::addColumn<QString>("timeout");
    QTest::addColumn<bool>("available");

    QTest::newRow("open port") << "open" << "%1" << "5" << true;
    QTest::newRow("open port, blanks around fields") << "open" << " %1 " << " 5" << true;
    QTest::newRow("refused port") << "refused" << "%1" << "5" << false;
    QTest::newRow("silent port, timeout 2") << "blackholed" << "%1" << "2" << false;
    QTest::newRow("port that is no number") << "open" << "port%1" << "5" << false;
    QTest::newRow("port above 16 bits") << "open" << "99999" << "5" << false;
    QTest::newRow("timeout that is no number") << "open" << "%1" << "soon" << false;
}

void TestUnattended::checkOutcome()
{
    QFETCH(QString, kind);
    QFETCH(QString, portText);
    QFETCH(QString, timeout);
    QFETCH(bool, available);

    const LoopbackPort port = kind == QLatin1String("open") ? LoopbackPort::open()
        : kind == QLatin1String("refused")                   ? LoopbackPort::refused()
                                                             : LoopbackPort::blackholed();
    const QString typedPort = portText.arg(port.port());
    ProgramFolder program;
    const auto run = program.run({QStringLiteral("127.0.0.1,") + typedPort + QLatin1Char(',') + timeout});
    QVERIFY(run.finished);
    QCOMPARE(run.exitStatus, QProcess::NormalExit);
    QCOMPARE(run.exitCode, 0);   // the outcome is in the logs, never in the exit status

    // The line names the port and the device as typed, blanks trimmed.
    const QString subject = QStringLiteral("Port ") + typedPort.trimmed() + QStringLiteral(" on device 127.0.0.1");
    if (available) {
        QCOMPARE(program.logMessages(kSuccess), QStringList{subject + QStringLiteral(" is available.")});
        QVERIFY(!program.logMessages(kError));
    } else {
        QCOMPARE(program.logMessages(kError), QStringList{subject + QStringLiteral(" is un-available.")});
        QVERIFY(!program.logMessages(kSuccess));
    }
}

void TestUnattended::rejectedSequenceWritesTwoLines()
{
    ProgramFolder program;
    for (const QString &sequence : {QStringLiteral("127.0.0.1"), QStringLiteral("127.0.0.1,23,15,PASS,")}) {
        const auto run = program.run({sequence});
        QVERIFY(run.finished);
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(program.logMessages(kError), kRejected);
        QVERIFY(!program.logMessages(kSuccess));
    }
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

    // A second run: only its own lines remain.
    QVERIFY(program.run({QStringLiteral("127.0.0.1")}).finished);
    QVERIFY(!program.logMessages(kSuccess));
    QCOMPARE(program.logMessages(kError), kRejected);
}

void TestUnattended::argumentsAreJoinedWithBlanks()
{
    const LoopbackPort port = LoopbackPort::open();
    ProgramFolder program;
    // As a shell passes `ostrel 127.0.0.1, 1234, 5, FAIL`.
    const auto run = program.run({QStringLiteral("127.0.0.1,"), QStringLiteral("%1,").arg(port.port()),
                                  QStringLiteral("5,"), QStringLiteral("FAIL")});
    QVERIFY(run.finished);
    QCOMPARE(program.logMessages(kSuccess),
             QStringList{QStringLiteral("Port %1 on device 127.0.0.1 is available.").arg(port.port())});
}

void TestUnattended::helpAnywhereShowsTheCallingSequence_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::newRow("alone") << QStringList{"/?"};
    QTest::newRow("inside a command field") << QStringList{"127.0.0.1,23,15,FAIL,tool/?"};
    QTest::newRow("after a full sequence") << QStringList{"127.0.0.1,23,15", "/?"};
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

void TestUnattended::unwritableFolderStillEnds()
{
    const LoopbackPort port = LoopbackPort::refused();
    const MarkerScript script;
    ProgramFolder program;
    QVERIFY(QFile::setPermissions(program.path(), QFile::ReadOwner | QFile::ExeOwner | QFile::ReadGroup
                                                      | QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther));
    const auto run = program.runAsNobody(
        {QStringLiteral("127.0.0.1,%1,5,FAIL,%2,unlogged").arg(port.port()).arg(script.path())});
    QVERIFY(run.finished);
    QCOMPARE(run.exitStatus, QProcess::NormalExit);
    QCOMPARE(run.exitCode, 0);
    QVERIFY(!program.logMessages(kError));
    QVERIFY(!program.logMessages(kSuccess));
    QVERIFY(QFile::setPermissions(program.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    // The lost result line does not cost the follow-up command.
    QVERIFY(script.waitForMarker());
    QCOMPARE(script.record()->arguments, QStringList{QStringLiteral("unlogged")});
}

void TestUnattended::hostNameDevice_data()
{
    QTest::addColumn<QString>("device");
    QTest::addColumn<bool>("needsConfinedResolver");
    QTest::addColumn<bool>("available");

    QTest::newRow("host name") << "localhost" << false << true;
    QTest::newRow("host name with blanks around") << "  localhost " << false << true;
    QTest::newRow("name that does not resolve") << "nohost.invalid" << true << false;
}

void TestUnattended::hostNameDevice()
{
    QFETCH(QString, device);
    QFETCH(bool, needsConfinedResolver);
    QFETCH(bool, available);
    if (needsConfinedResolver && !m_resolverConfined)
        QSKIP(qPrintable(QStringLiteral("a look-up that fails would ask the network: ") + m_resolverWhy));

    const LoopbackPort port = LoopbackPort::open();
    ProgramFolder program;
    QVERIFY(program.run({QStringLiteral("%1,%2,5").arg(device).arg(port.port())}).finished);
    // The line names the device as typed, never its address.
    const QString subject = QStringLiteral("Port %1 on device %2").arg(port.port()).arg(device.trimmed());
    if (available) {
        QCOMPARE(program.logMessages(kSuccess), QStringList{subject + QStringLiteral(" is available.")});
        QVERIFY(!program.logMessages(kError));
    } else {
        QCOMPARE(program.logMessages(kError), QStringList{subject + QStringLiteral(" is un-available.")});
        QVERIFY(!program.logMessages(kSuccess));
    }
}

// A command that cannot start shows synchronously, in the error log, whether it was run.
void TestUnattended::commandOnMatchingTrigger_data()
{
    QTest::addColumn<bool>("portOpen");
    QTest::addColumn<QString>("followUp");   // the fields after the timeout
    QTest::addColumn<QStringList>("success");
    QTest::addColumn<QStringList>("errors");

    const QString available = QStringLiteral("Port %1 on device 127.0.0.1 is available.");
    const QString unavailable = QStringLiteral("Port %1 on device 127.0.0.1 is un-available.");
    const QString refused = QStringLiteral("Error executing specified command, /nonexistent/tool");

    QTest::newRow("FAIL, check failed: run, error after the result line")
        << false << "FAIL,/nonexistent/tool" << QStringList{} << QStringList{unavailable, refused};
    QTest::newRow("FAIL, check passed: not run")
        << true << "FAIL,/nonexistent/tool" << QStringList{available} << QStringList{};
    QTest::newRow("PASS, check passed: run") << true << "PASS,/nonexistent/tool,some argument"
                                             << QStringList{available} << QStringList{refused};
    QTest::newRow("pass in lower case") << true << "pass,/nonexistent/tool" << QStringList{available}
                                        << QStringList{refused};
    QTest::newRow("PASS, check failed: not run")
        << false << "PASS,/nonexistent/tool" << QStringList{} << QStringList{unavailable};
    QTest::newRow("blank before PASS means FAIL")
        << false << " PASS,/nonexistent/tool" << QStringList{} << QStringList{unavailable, refused};
    QTest::newRow("empty command: nothing to run")
        << false << "FAIL,,argument" << QStringList{} << QStringList{unavailable};
    QTest::newRow("last field keeps its leading blank")
        << false << "FAIL, /nonexistent/tool" << QStringList{}
        << QStringList{unavailable, QStringLiteral("Error executing specified command,  /nonexistent/tool")};
    QTest::newRow("switch alone") << false << "FAIL,/S" << QStringList{}
                                  << QStringList{unavailable, QStringLiteral("Error executing specified command, /S")};
}

void TestUnattended::commandOnMatchingTrigger()
{
    QFETCH(bool, portOpen);
    QFETCH(QString, followUp);
    QFETCH(QStringList, success);
    QFETCH(QStringList, errors);

    const LoopbackPort port = portOpen ? LoopbackPort::open() : LoopbackPort::refused();
    ProgramFolder program;
    QVERIFY(program.run({QStringLiteral("127.0.0.1,%1,5,").arg(port.port()) + followUp}).finished);
    const auto withPort = [&port](QStringList lines) {
        for (QString &line : lines)
            line = line.contains(QLatin1String("%1")) ? line.arg(port.port()) : line;
        return lines;
    };
    QCOMPARE(program.logMessages(kSuccess).value_or(QStringList{}), withPort(success));
    QCOMPARE(program.logMessages(kError).value_or(QStringList{}), withPort(errors));
}

void TestUnattended::failedCheckStartsCommand_data()
{
    QTest::addColumn<QString>("switchText");
    QTest::addColumn<bool>("hidden");
    QTest::newRow("normal") << "" << false;
    QTest::newRow("silent switch") << " /s" << true;
}

void TestUnattended::failedCheckStartsCommand()
{
    QFETCH(QString, switchText);
    QFETCH(bool, hidden);

    const LoopbackPort port = LoopbackPort::refused();
    const MarkerScript script;
    ProgramFolder program;
    const auto run = program.run({QStringLiteral("127.0.0.1,%1,5,FAIL,%2%3,\"two words\" plain")
                                      .arg(port.port())
                                      .arg(script.path(), switchText)});
    QVERIFY(run.finished);
    QCOMPARE(program.logMessages(kError),
             QStringList{QStringLiteral("Port %1 on device 127.0.0.1 is un-available.").arg(port.port())});
    // Started detached: the program may have ended before the script wrote its marker.
    QVERIFY(script.waitForMarker());
    const auto record = script.record();
    QVERIFY(record);
    QCOMPARE(record->arguments, (QStringList{QStringLiteral("two words"), QStringLiteral("plain")}));
    QCOMPARE(record->standardOutput == QLatin1String("/dev/null"), hidden);
}

QTEST_GUILESS_MAIN(TestUnattended)
#include "tst_unattended.moc"
