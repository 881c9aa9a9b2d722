// The built program as a user starts it from the build tree: it loads its
// window module beside it; under a real X server (Xvfb) Escape ends it at
// once, also in the middle of a check, and a screen reader reads it over the
// accessibility bus (the test runs under dbus-run-session).
#include "LoopbackPeers.h"
#include "MarkerScript.h"
#include "ProgramFolder.h"
#include "WindowTesting.h"

#include <QElapsedTimer>
#include <QFile>

static void start(
    QProcess &process, const QString &program, const QStringList &arguments, const QProcessEnvironment &environment)
{
    process.setProcessEnvironment(environment);
    process.start(program, arguments);
}

static QStringList output(const QString &program, const QStringList &arguments, const QProcessEnvironment &environment)
{
    QProcess process;
    start(process, program, arguments, environment);
    if (!process.waitForFinished(20000))
        process.kill();
    return QString::fromUtf8(process.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
}

// The program on a display of its own (Xvfb picks a free one and says which
// once it is ready) with settings of its own.
struct OnX {
    QProcess server, program;
    QString display;
    const TemporarySettings settings;
    QProcessEnvironment environment = ProgramFolder::headless();
    OnX()
    {
        server.start(QStringLiteral("Xvfb"), { "-displayfd", "1", "-nolisten", "tcp", "-noreset" });
        if (server.waitForStarted(5000) && QTest::qWaitFor([&] { return server.canReadLine(); }, 10000))
            display = ':' + QString::fromLatin1(server.readLine()).trimmed();
        environment.insert(QStringLiteral("DISPLAY"), display);
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), settings.folder());
        // The sanitizer's leak search at exit is no part of the program's own ending.
        environment.insert(QStringLiteral("ASAN_OPTIONS"), QStringLiteral("detect_leaks=0"));
    }
    ~OnX() { program.kill(), program.waitForFinished(5000), server.terminate(), server.waitForFinished(5000); }
    QString xdotool(const QStringList &arguments) { return output("xdotool", arguments, environment).value(0); }
    // Starts the program and focuses its window, mapped only once the module beside the program has been loaded.
    bool open()
    {
        start(program, QStringLiteral(OSTREL_PROGRAM), {}, environment);
        const QString window = xdotool({ "search", "--sync", "--onlyvisible", "--name", "^Ostrel " });
        return !window.isEmpty() && (xdotool({ "windowfocus", "--sync", window }), true);
    }
};

class TestProgram : public QObject {
    Q_OBJECT

private slots:
    // A stale DISPLAY (an ssh session, a cron job that exports one): help on
    // standard output, the start-up failure on standard error, no abort.
    void unreachableDisplay()
    {
        int number = 170;
        while (QFile::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(number))
            || QFile::exists(QStringLiteral("/tmp/.X%1-lock").arg(number)))
            ++number;
        QProcessEnvironment environment = ProgramFolder::headless();
        environment.insert(QStringLiteral("DISPLAY"), QStringLiteral(":%1").arg(number));
        for (const bool help : { true, false }) {
            QProcess program;
            start(program, QStringLiteral(OSTREL_PROGRAM), help ? QStringList { "/?" } : QStringList {}, environment);
            QVERIFY(program.waitForFinished(20000) && program.exitStatus() == QProcess::NormalExit);
            QCOMPARE(program.exitCode(), help ? 0 : 1);
            QCOMPARE(program.readAllStandardOutput().left(15), help ? "Use the followi" : "");
            QCOMPARE(program.readAllStandardError().left(25), help ? "" : "Error loading main form, ");
        }
    }

    // Escape ends the program at once: idle, in the middle of a check, and
    // while F2 waits for the desktop to name the help page's type (xdg-mime
    // here never answers). Started without a session bus (plain X, ssh -X),
    // it leaves nothing running on its display.
    void underX()
    {
        for (const QString keys : { "", "Return", "F2" }) {
            OnX x;
            QVERIFY2(!x.display.isEmpty(), "needs Xvfb (./dev.sh test installs it)");
            const LoopbackPort port = LoopbackPort::blackholed();
            // Everything but "Argument", which the closing writes after a check.
            QVERIFY(x.settings.writeFile(
                QStringLiteral("[Settings]\nDeviceName=127.0.0.1\nPort=%1\nTimeout=10\n").arg(port.port()).toUtf8()));
            QTemporaryDir desktop;
            QVERIFY(MarkerScript::writeExecutable(desktop.filePath("xdg-mime"), "#!/bin/sh\nexec sleep 10\n")
                && MarkerScript::writeExecutable(desktop.filePath("xdg-open"), "#!/bin/sh\n"));
            x.environment.insert(QStringLiteral("PATH"), desktop.path() + ':' + x.environment.value("PATH"));
            x.environment.remove(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"));
            x.environment.remove(QStringLiteral("XDG_RUNTIME_DIR"));
            QVERIFY2(x.open(), "needs xdotool (./dev.sh test installs it)");
            if (!keys.isEmpty()) {
                x.xdotool({ "key", keys });
                QTest::qWait(500);
                QCOMPARE(x.program.state(), QProcess::Running);
            }
            QElapsedTimer clock;
            clock.start(), x.xdotool({ "key", "Escape" });
            QVERIFY(x.program.waitForFinished(15000));
            QVERIFY2(
                clock.elapsed() <= (keys.isEmpty() ? 300 : 500), qPrintable(QString::number(clock.elapsed()) + " ms"));
            QCOMPARE(x.settings.storedTexts().contains("Argument"), keys == "Return");
            QStringList left; // on its display once it ended (libdbus would autolaunch a bus for it)
            for (const QString &process : QDir(QStringLiteral("/proc")).entryList({ "[0-9]*" }, QDir::Dirs))
                if (QFile environ("/proc/" + process + "/environ");
                    environ.open(QIODevice::ReadOnly) && environ.readAll().split('\0').contains("DISPLAY=" + x.display))
                    left << QFileInfo("/proc/" + process + "/exe").symLinkTarget();
            QVERIFY2(left.isEmpty(), qPrintable(left.join(' ')));
        }
    }

    // Over the accessibility bus, as Orca reads it: each control that takes
    // the focus has a name of its own, no frame's caption, and each field a
    // description; no light is met while none is on. Return on Check Port,
    // reached with Shift+Tab, checks, and the result is told at once, the
    // focus staying where it was.
    void screenReader()
    {
        OnX x;
        const LoopbackPort device = LoopbackPort::open();
        QVERIFY(x.settings.writeFile(
            QStringLiteral("[Settings]\nDeviceName=127.0.0.1\nPort=%1\n").arg(device.port()).toUtf8()));
        x.environment.insert(QStringLiteral("QT_LINUX_ACCESSIBILITY_ALWAYS_ON"), QStringLiteral("1"));
        QProcess events;
        start(events, QStringLiteral("/usr/bin/python3"), { OSTREL_SCREEN_READER, "events" }, x.environment);
        QVERIFY2(QTest::qWaitFor([&] { return events.canReadLine(); }, 20000) && events.readLine() == "ready\n",
            "needs dbus-run-session, at-spi2-core and python3-pyatspi (./dev.sh test installs them)");
        QVERIFY(x.open());
        QStringList names; // of the focusable controls on show, marked when a field has no description
        for (const QString &line : output("/usr/bin/python3", { OSTREL_SCREEN_READER, "tree" }, x.environment)) {
            const QStringList field = line.split('|'); // s(howing)f(ocusable)|role|name read|description
            QVERIFY2(field[1] != "image", qPrintable(line));
            const bool needsDescription = QStringList { "text", "combo box", "scroll bar" }.contains(field[1]);
            if (field[0] == "sf")
                names << field[2] + (needsDescription && field[3].isEmpty() ? " (no description)" : "");
        }
        QCOMPARE(names.removeDuplicates(), 0);
        QCOMPARE(names.filter(QRegularExpression("^ *$|^ *(Port Settings|Connection Result) *$|no description$")),
            QStringList());
        QCOMPARE(names.filter(QRegularExpression("^Timeout .*seconds$|^Browse for the command$")).size(), 2);
        x.xdotool({ "key", "shift+Tab", "Return" });
        QVERIFY(QTest::qWaitFor([&] { return events.peek(1 << 16).contains("|notification|"); }, 10000));
        QTest::qWait(500); // a focus moved by the check would come by now
        const QStringList told = QString::fromUtf8(events.readAll()).split('\n', Qt::SkipEmptyParts);
        QCOMPARE(told.mid(told.size() - 3),
            (QStringList {
                "focus|push button|Check Port", "shown|image|Port available", "shown|notification|Port Available" }));
    }
};

WINDOW_TEST(TestProgram)
#include "tst_program.moc"
