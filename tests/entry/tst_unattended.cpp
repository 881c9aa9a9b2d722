// The calling sequence and follow-up command as tables, then the real program run as a scheduler runs it: no display,
// logs beside it.
#include "LoopbackPeers.h"
#include "LoopbackResolver.h"
#include "MarkerScript.h"
#include "ProgramFolder.h"
#include "actions/RunCommand.h"
#include "entry/CallingSequence.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString kSuccess = QStringLiteral("success.log");
const QString kError = QStringLiteral("error.log");
const QByteArray kSecret = "secret\n";

void writeFile(const QString &path, const QByteArray &content)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(content) == content.size());
}

// One unattended run: in the texts, {port} is the listener's port and {script} the marker script.
struct RunCase {
    QString sequence;
    QString kind; // the listener (open, refused, blackholed) and after a blank its address
    QString status; // OSTREL_EXIT_STATUS, unset when null
    int exitCode = 0;
    QStringList success, errors; // the messages of each log; empty: no file
    QStringList started = {}; // the command's arguments; empty: not started
    bool readOnly = false; // program folder read-only, run as another user than root
    QByteArray output = {}; // how standard output or error begins
};

// Sets (or, given nothing, removes) an environment variable until the guard goes.
auto setEnvironment(const char *name, const std::optional<QByteArray> &value)
{
    const auto apply = [name](const std::optional<QByteArray> &to) { to ? qputenv(name, *to) : qunsetenv(name); };
    const auto previous = qEnvironmentVariableIsSet(name) ? std::optional<QByteArray>(qgetenv(name)) : std::nullopt;
    apply(value);
    return qScopeGuard([apply, previous] { apply(previous); });
}

// One follow-up command: {script}, {folder} in the texts are the marker script and its folder; setup "path" puts
// the folder on PATH, "folder" makes it the current folder, the rest says how the desktop answers.
struct CommandCase {
    QString name, command, argument, setup; // name: the marker script's file name
    bool result, hidden;
    QStringList arguments; // the started script's; empty when nothing starts
};

} // namespace

Q_DECLARE_METATYPE(RunCase)
Q_DECLARE_METATYPE(CommandCase)

class TestUnattended : public QObject {
    Q_OBJECT
    bool m_resolverConfined = false;
    QString m_resolverWhy;

private slots:
    void initTestCase()
    {
        // A name server that never answers, asked for 2 s: a look-up that should not happen shows in
        // the time a run takes.
        const QByteArray server = LoopbackResolver::silentNameServer();
        m_resolverConfined = !server.isEmpty()
            && LoopbackResolver::confine(&m_resolverWhy, { server, "::1 v6only.test", "timeout:2 attempts:1" });
    }

    void callingSequence_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>(
            "expected"); // device|address|port|timeout|trigger|command|argument|server|recipients; empty: rejected

        const QString no;
        QTest::newRow("port without comma") << "host,23" << no;
        QTest::newRow("blank device") << "  ,23,15" << no;
        QTest::newRow("empty timeout") << "host,23," << no;
        QTest::newRow("blanks trimmed from device and port") << "  host  ,  23 ,15"
                                                             << "host|addr(host)|23|15|FAIL||||";
        QTest::newRow("last field timeout kept untrimmed") << "host,23, 15 "
                                                           << "host|addr(host)|23| 15 |FAIL||||";
        QTest::newRow("trailing comma after timeout") << "host,23,15," << no;
        QTest::newRow("any word starting with p") << "host,23,15,probably"
                                                  << "host|addr(host)|23|15|PASS||||";
        QTest::newRow("blank before PASS means FAIL") << "host, 23, 15, PASS"
                                                      << "host|addr(host)|23|15|FAIL||||";
        QTest::newRow("empty trigger field") << "host,23,15,,cmd"
                                             << "host|addr(host)|23|15|FAIL|cmd|||";
        QTest::newRow("command last, untrimmed") << "host,23,15,FAIL, ping.sh /S "
                                                 << "host|addr(host)|23|15|FAIL| ping.sh /S |||";
        QTest::newRow("argument last, untrimmed") << "host,23,15,PASS, cmd , -c 1 "
                                                  << "host|addr(host)|23|15|PASS|cmd| -c 1 ||";
        QTest::newRow("mail server last") << "host,23,15,PASS,cmd,arg,mail" << no;
        QTest::newRow("empty mail server, rest ignored") << "host,23,15,PASS,cmd,arg,,a@x,b@y"
                                                         << "host|addr(host)|23|15|PASS|cmd|arg||";
        QTest::newRow("blanks around recipients, trailing comma") << "host, 23, 15, PASS, , , mail , a@x , b@y ,"
                                                                  << "host|addr(host)|23|15|FAIL|||mail|a@x,b@y";
        QTest::newRow("empty recipient field kept") << "host,23,15,FAIL,,,mail,a@x,,b@y"
                                                    << "host|addr(host)|23|15|FAIL|||mail|a@x,,b@y";
        QTest::newRow("dotted address, not looked up") << " 10.0.0.1 ,23,15"
                                                       << "10.0.0.1|10.0.0.1|23|15|FAIL||||";
    }

    void callingSequence()
    {
        QFETCH(QString, text);
        QFETCH(QString, expected);
        const auto request
            = CallingSequence::read(text, [](const QString &name) { return QStringLiteral("addr(%1)").arg(name); });
        QCOMPARE(request.has_value(), !expected.isEmpty());
        if (request)
            QCOMPARE(QStringList({ request->strDeviceName, request->strAddress, request->strPort, request->strTimeout,
                                     request->bolPass ? "PASS" : "FAIL", request->strCommand, request->strArgument,
                                     request->strMailServer, request->strRecipients })
                         .join(QLatin1Char('|')),
                expected);
    }

    void runCommand_data()
    {
        QTest::addColumn<CommandCase>("c");

        const QString script = QStringLiteral("marker.sh"), opener = QStringLiteral("xdg-open");
        const QStringList none;
        QTest::newRow("argument with a quoted blank") << CommandCase { script, "{script}", R"(one "two words" three)",
            "", true, false, QStringList { "one", "two words", "three" } };
        QTest::newRow("blanks and a lower-case switch: hidden")
            << CommandCase { script, "{script}   /s", "a", "", true, true, QStringList { "a" } };
        QTest::newRow("switch alone") << CommandCase { script, "/S", "a", "", false, false, none };
        QTest::newRow("empty command: nothing to run") << CommandCase { script, "", "a", "", true, false, none };
        QTest::newRow("shell syntax in the argument") << CommandCase { script, "{script}",
            "a;b $(touch {folder}/X) `touch {folder}/X` | touch {folder}/X", "", true, false,
            QStringList { "a;b", "$(touch", "{folder}/X)", "`touch", "{folder}/X`", "|", "touch", "{folder}/X" } };
        QTest::newRow("shell syntax in the command")
            << CommandCase { script, "{script}; touch {folder}/X $(touch {folder}/X) /S", "", "", false, false, none };
        QTest::newRow("bare name found on PATH")
            << CommandCase { "ostrel-marker", "ostrel-marker", "x", "path", true, false, QStringList { "x" } };
        QTest::newRow("leading blank is part of the name")
            << CommandCase { " blank.sh", " blank.sh", "x", "folder", true, false, QStringList { "x" } };
        // A document is handed to the desktop's opener, for the type's application.
        QTest::newRow("document, hidden") << CommandCase { opener, "{folder}/notes.txt /s", "ignored", "path", true,
            true, QStringList { "{folder}/notes.txt" } };
        QTest::newRow("folder") << CommandCase { opener, "{folder}", "ignored", "path", true, false,
            QStringList { "{folder}" } };
        QTest::newRow("document, no display")
            << CommandCase { opener, "{folder}/notes.txt", "", "path no display", false, false, none };
        QTest::newRow("no application for the type")
            << CommandCase { opener, "{folder}/notes.txt", "", "path no application", false, false, none };
        QTest::newRow("type query hangs")
            << CommandCase { opener, "{folder}/notes.txt", "", "path hangs", false, false, none };
    }

    void runCommand()
    {
        QFETCH(CommandCase, c);
        const auto &[name, command, argument, setup, result, hidden, expectedArguments] = c;
        const MarkerScript script(name);
        const auto expand = [&script](QString text) {
            return text.replace(QLatin1String("{script}"), script.path())
                .replace(QLatin1String("{folder}"), script.folder());
        };
        // xdg-mime answers as the desktop would.
        writeFile(script.filePath(QStringLiteral("notes.txt")), "notes\n");
        QVERIFY(MarkerScript::writeExecutable(script.filePath(QStringLiteral("xdg-mime")),
            "#!/bin/sh\n" + QByteArray(setup.contains(QLatin1String("hangs")) ? "exec /bin/sleep 60\n" : "")
                + "case \"$1 $2\" in\n'query filetype') if [ -d \"$3\" ]; then echo inode/directory; "
                  "else echo 'text/plain; charset=us-ascii'; fi ;;\n'query default') case \"$3\" in "
                  "text/plain|inode/directory) echo '"
                + (setup.contains(QLatin1String("no application")) ? "" : "viewer.desktop")
                + "' ;; esac ;;\n*) exit 1 ;;\nesac\n"));
        const QTemporaryDir elsewhere;
        const QString previousFolder = QDir::currentPath();
        QDir::setCurrent(setup.contains(QLatin1String("folder")) ? script.folder() : elsewhere.path());
        const auto back = qScopeGuard([&previousFolder] { QDir::setCurrent(previousFolder); });
        const auto path = setEnvironment("PATH",
            (setup.contains(QLatin1String("path")) ? QFile::encodeName(script.folder()) + ":" : "") + "/usr/bin:/bin");
        const auto x11 = setEnvironment(
            "DISPLAY", setup.contains(QLatin1String("no display")) ? std::nullopt : std::optional<QByteArray>(":99"));
        const auto wayland = setEnvironment("WAYLAND_DISPLAY", std::nullopt);

        QCOMPARE(modCommand::Run_Command(expand(command), expand(argument)), result);
        if (!expectedArguments.isEmpty()) {
            QVERIFY(script.waitForMarker());
            const auto record = script.record();
            QVERIFY(record);
            QStringList arguments;
            for (const QString &expected : expectedArguments)
                arguments << expand(expected);
            QCOMPARE(record->arguments, arguments);
            QCOMPARE(record->folder, QDir(QDir::currentPath()).canonicalPath()); // it works in the current folder
            // All on the null device, or output and errors where ours go (our input may be closed, its number reused).
            const QString null = QStringLiteral("/dev/null");
            if (hidden && descriptorTarget(1) == null)
                QSKIP("this test's own output goes to the null device");
            QVERIFY(!hidden || record->standardInput == null);
            QCOMPARE(record->standardOutput, hidden ? null : descriptorTarget(1));
            QCOMPARE(record->standardError, hidden ? null : descriptorTarget(2));
        }
        // Nothing ever read the texts as shell syntax.
        QVERIFY(!QFile::exists(script.filePath(QStringLiteral("X"))));
    }

    void run_data()
    {
        QTest::addColumn<RunCase>("c");
        const QString unset, opted = QStringLiteral("1");
        const QStringList none, twoWords { "two words", "plain" };
        const auto row = [](const char *name, const RunCase &c) { QTest::newRow(name) << c; };
        const auto up = [](const QString &device) {
            return QStringList { QStringLiteral("Port {port} on device %1 is available.").arg(device) };
        };
        const auto down = [](const QString &device, const QString &port = QStringLiteral("{port}")) {
            return QStringList { QStringLiteral("Port %1 on device %2 is un-available.").arg(port, device) };
        };
        const QString local = QStringLiteral("127.0.0.1");
        const QStringList rejected { "Port check not performed: Incorrect calling sequence.",
            "Type OSTREL /? for calling sequence help." };
        const QString command = QStringLiteral(",{script},\"two words\" plain");

        // Outcome and exit status.
        row("open port, status", { "127.0.0.1,{port},5", "open", opted, 0, up(local), none });
        row("refused port", { "127.0.0.1,{port},5", "refused", unset, 0, none, down(local) });
        row("refused port, status", { "127.0.0.1,{port},5", "refused", opted, 1, none, down(local) });
        row("status wants exactly 1", { "127.0.0.1,{port},5", "refused", "yes", 0, none, down(local) });
        row("rejected, status", { "127.0.0.1,{port}", "open", opted, 2, none, rejected });
        // Texts as typed.
        row("port that is no number", { "127.0.0.1,port{port},5", "open", unset, 0, none, down(local, "port{port}") });
        row("timeout that is no number", { "127.0.0.1,{port},soon", "open", unset, 0, none, down(local) });
        row("host name", { "localhost,{port},5", "open", unset, 0, up("localhost"), none });
        row("name that does not resolve",
            { "nohost.invalid,{port},5", "open", opted, 1, none, down("nohost.invalid") });
        row("IPv6 open port", { "::1,{port},5", "open ::1", unset, 0, up("::1"), none });
        row("IPv6 in brackets", { "[::1],{port},5", "open ::1", unset, 0, up("[::1]"), none });
        row("IPv6 refused port", { "::1,{port},5", "refused ::1", opted, 1, none, down("::1") });
        row("IPv6 silent port, timeout 2", { "::1,{port},2", "blackholed ::1", opted, 1, none, down("::1") });
        row("name with only an IPv6 address",
            { "v6only.test,{port},5", "open ::1", unset, 0, up("v6only.test"), none });
        // Dotted, but no address: failing at once, never asking the silent resolver.
        row("999.1.1.1", { "999.1.1.1,{port},1", "open", unset, 0, none, down("999.1.1.1") });
        row("10.0.0.1.5", { "10.0.0.1.5,{port},1", "open", unset, 0, none, down("10.0.0.1.5") });
        row("line breaks and other controls in device and command",
            { "evil\r\n2026-01-01 00:00:00\tPort 22\x01\x7f on device 10.9.9.9 is "
              "available.,{port},5,FAIL,/nonexistent/tool\r\nforged",
                "refused", unset, 0, none,
                down("evil  2026-01-01 00:00:00 Port 22   on device 10.9.9.9 is available.")
                    << "Error executing specified command, /nonexistent/tool  forged" });
        // The command runs when the trigger matches the outcome, after the result line.
        row("FAIL, check failed: started",
            { "127.0.0.1,{port},5,FAIL" + command, "refused", unset, 0, none, down(local), twoWords });
        row("FAIL, check passed: not started",
            { "127.0.0.1,{port},5,FAIL" + command, "open", unset, 0, up(local), none });
        row("PASS, check passed: started",
            { "127.0.0.1,{port},5,PASS" + command, "open", unset, 0, up(local), none, twoWords });
        row("PASS, check failed: not started",
            { "127.0.0.1,{port},5,PASS" + command, "refused", unset, 0, none, down(local) });
        row("command that cannot start",
            { "127.0.0.1,{port},5,FAIL,/nonexistent/tool,x", "refused", opted, 1, none,
                down(local) << "Error executing specified command, /nonexistent/tool" });
        // A lost result line does not cost the follow-up command, nor the status.
        row("read-only folder, hidden command",
            { "127.0.0.1,{port},5,FAIL,{script} /s,\"two words\" plain", "refused", opted, 1, none, none, twoWords,
                true });
        // No unattended run: the logs stay as they were.
        const QByteArray help = "Use the following calling sequence...\n";
        const QStringList oldSuccess { "old success" }, oldError { "old error" };
        row("help", { "/?", "open", opted, 0, oldSuccess, oldError, none, false, help });
        row("help inside a command field",
            { "127.0.0.1,23,15,FAIL,tool/?", "open", opted, 0, oldSuccess, oldError, none, false, help });
        row("no arguments, no display",
            { "", "open", opted, 1, oldSuccess, oldError, none, false, "Error loading main form, " });
    }

    void run()
    {
        QFETCH(RunCase, c);
        if (!m_resolverConfined)
            QSKIP(qPrintable(QStringLiteral("a look-up that fails would ask the network: ") + m_resolverWhy));
        const QString what = c.kind.section(QLatin1Char(' '), 0, 0), at = c.kind.section(QLatin1Char(' '), 1, 1);
        const QString on = at.isEmpty() ? QStringLiteral("127.0.0.1") : at;
        const LoopbackPort port = what == QLatin1String("open") ? LoopbackPort::open(on)
            : what == QLatin1String("refused")                  ? LoopbackPort::refused(on)
                                                                : LoopbackPort::blackholed(on);
        const MarkerScript script;
        const auto expand = [&](QString text) {
            return text.replace(QLatin1String("{port}"), QString::number(port.port()))
                .replace(QLatin1String("{script}"), script.path());
        };
        ProgramFolder program;
        // Whatever an earlier run left is gone first.
        writeFile(program.filePath(kSuccess), "2026-01-01 00:00:00\told success\r\n");
        writeFile(program.filePath(kError), "2026-01-01 00:00:00\told error\r\n");
        const auto everyone = QFile::ReadOwner | QFile::ExeOwner | QFile::ReadGroup | QFile::ExeGroup | QFile::ReadOther
            | QFile::ExeOther;
        if (c.readOnly) {
            QVERIFY(QFile::remove(program.filePath(kSuccess)) && QFile::remove(program.filePath(kError)));
            QVERIFY(QFile::setPermissions(program.path(), everyone));
        }
        QProcessEnvironment environment = ProgramFolder::headless();
        environment.remove(QStringLiteral("OSTREL_EXIT_STATUS"));
        if (!c.status.isNull())
            environment.insert(QStringLiteral("OSTREL_EXIT_STATUS"), c.status);
        // Blank-separated arguments are joined into one text, as a shell passes `ostrel a, b, c`.
        const auto run = program.run(
            expand(c.sequence).split(QLatin1Char(' '), Qt::SkipEmptyParts), 60000, environment, c.readOnly);
        QVERIFY(QFile::setPermissions(program.path(), everyone | QFile::WriteOwner));
        QVERIFY(run.finished);
        // The process ends when its work ends: nothing left waiting for a look-up.
        const int timeout = c.sequence.section(QLatin1Char(','), 2, 2).toInt();
        QVERIFY2(run.elapsedMs < (timeout > 0 ? timeout : 5) * 1000 + 500, qPrintable(QString::number(run.elapsedMs)));
        QCOMPARE(run.exitStatus, QProcess::NormalExit);
        QCOMPARE(run.exitCode, c.exitCode);
        QVERIFY(run.standardOutput.startsWith(c.output) || run.standardError.startsWith(c.output));

        for (const auto &[log, expected] : { std::pair { kSuccess, c.success }, std::pair { kError, c.errors } }) {
            QStringList messages;
            for (const QString &message : expected)
                messages << expand(message);
            QCOMPARE(program.logMessages(log).value_or(QStringList {}), messages);
            if (messages.isEmpty())
                QVERIFY(!QFile::exists(program.filePath(log)));
        }
        // Started detached: the program may have ended before the script wrote its marker.
        if (c.started.isEmpty()) {
            QVERIFY(!c.sequence.contains(QLatin1String("{script}")) || !script.waitForMarker(300));
            return;
        }
        QVERIFY(script.waitForMarker());
        const auto record = script.record();
        QVERIFY(record);
        QCOMPARE(record->arguments, c.started);
        QCOMPARE(record->standardOutput == QLatin1String("/dev/null"), c.sequence.contains(QLatin1String(" /s")));
    }

    // Runs that wait on the same port with the same timeout write their result lines in the same
    // instant, each of another length (the port typed with leading zeros). Lines may be lost to
    // another run's start-of-run delete, but every line there is is whole. The port opens while they wait, or never.
    void overlappingRunsKeepLinesWhole()
    {
        constexpr int kRuns = 4;
        for (int round = 0; round < 6; ++round) {
            const bool opens = round % 2 == 0;
            auto port = LoopbackPort::blackholed();
            ProgramFolder program;
            std::vector<std::unique_ptr<QProcess>> runs;
            QStringList lines;
            for (int i = 0; i < kRuns; ++i) {
                const QString typed = QString(i, QLatin1Char('0')) + QString::number(port.port());
                runs.push_back(program.launch({ QStringLiteral("127.0.0.1,%1,%2").arg(typed).arg(opens ? 5 : 1) }));
                lines << QStringLiteral("Port %1 on device 127.0.0.1 is %2.")
                             .arg(typed, opens ? "available" : "un-available");
            }
            if (opens) {
                QTest::qWait(300);
                port.answer();
            }
            for (const auto &run : runs)
                QVERIFY(run->waitForFinished(15000));
            const auto written = program.logMessages(opens ? kSuccess : kError);
            QVERIFY(written);
            QVERIFY2(!written->isEmpty() && written->size() <= (opens ? 1 : kRuns), qPrintable(written->join('|')));
            for (const QString &message : *written)
                QVERIFY2(lines.contains(message), qPrintable(message));
            QVERIFY(!QFile::exists(program.filePath(opens ? kError : kSuccess)));
        }
    }

    void plantedLogsWhileWaiting_data()
    {
        QTest::addColumn<bool>("opens");
        QTest::addColumn<QStringList>(
            "planted"); // as success.log and error.log: link, hard link, fifo (with a reader) or folder
        QTest::newRow("available: link as success.log, FIFO as error.log") << true << QStringList { "link", "fifo" };
        QTest::newRow("un-available: link as error.log, FIFO as success.log")
            << false << QStringList { "fifo", "link" };
        QTest::newRow("un-available: FIFO as error.log, link as success.log")
            << false << QStringList { "link", "fifo" };
        QTest::newRow("un-available: hard link as error.log, folder as success.log")
            << false << QStringList { "folder", "hard link" };
    }

    // Things planted in the shared folder after the start-of-run delete, while the run waits: the
    // link's target is never written, nothing goes into a FIFO and the run ends on time.
    void plantedLogsWhileWaiting()
    {
        QFETCH(bool, opens);
        QFETCH(QStringList, planted);
        const int kTimeout = opens ? 2 : 1; // the opening port answers at the SYN sent again after a second
        auto port = LoopbackPort::blackholed();
        ProgramFolder program;
        QTemporaryDir elsewhere;
        const QString target = elsewhere.filePath(QStringLiteral("root-only"));
        writeFile(target, kSecret);
        // Links from an earlier attempt are removed at the start, their target kept.
        QVERIFY(QFile::link(target, program.filePath(kSuccess)) && QFile::link(target, program.filePath(kError)));

        QElapsedTimer clock;
        clock.start();
        const auto run = program.launch({ QStringLiteral("127.0.0.1,%1,%2").arg(port.port()).arg(kTimeout) });
        QVERIFY(QTest::qWaitFor(
            [&] { return !QFile::exists(program.filePath(kSuccess)) && !QFile::exists(program.filePath(kError)); },
            5000));
        std::vector<int> readers;
        for (const auto &[log, what] : { std::pair { kSuccess, planted[0] }, std::pair { kError, planted[1] } }) {
            const QByteArray path = QFile::encodeName(program.filePath(log));
            if (what == QLatin1String("link"))
                QVERIFY(QFile::link(target, program.filePath(log)));
            else if (what == QLatin1String("hard link"))
                QCOMPARE(::link(QFile::encodeName(target).constData(), path.constData()), 0);
            else if (what == QLatin1String("folder"))
                QVERIFY(QDir().mkdir(program.filePath(log)));
            else // with a reader, opening for writing succeeds: only the file's type tells
                QVERIFY(::mkfifo(path.constData(), 0666) == 0
                    && (readers.emplace_back(::open(path.constData(), O_RDONLY | O_NONBLOCK))) >= 0);
        }
        if (opens)
            port.answer();

        QVERIFY(run->waitForFinished((kTimeout + 5) * 1000));
        // Start-up, then the timeout, then well under a second to end.
        QVERIFY2(clock.elapsed() < (kTimeout + 1) * 1000, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(run->exitCode(), 0);
        QFile secret(target);
        QVERIFY(secret.open(QIODevice::ReadOnly));
        QCOMPARE(secret.readAll(), kSecret);
        for (const int reader : readers) {
            char byte;
            QCOMPARE(::read(reader, &byte, 1), ssize_t(0)); // no writer left, nothing sent
            ::close(reader);
        }
        // success.log is replaced, never followed; error.log is left as planted.
        if (opens)
            QCOMPARE(program.logMessages(kSuccess),
                QStringList { QStringLiteral("Port %1 on device 127.0.0.1 is available.").arg(port.port()) });
        else
            QCOMPARE(QFileInfo(program.filePath(kError)).isFile() && !QFileInfo(program.filePath(kError)).isSymLink(),
                planted[1] == "hard link");
    }
};

QTEST_GUILESS_MAIN(TestUnattended)
#include "tst_unattended.moc"
