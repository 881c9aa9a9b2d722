// The built program as a user starts it from the build tree: it loads its
// window module beside it; under a real X server (Xvfb) Escape ends it at
// once, also in the middle of a check.
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

static QString xdotool(const QStringList &arguments, const QProcessEnvironment &environment)
{
    QProcess process;
    start(process, QStringLiteral("xdotool"), arguments, environment);
    if (!process.waitForFinished(10000))
        process.kill();
    return QString::fromUtf8(process.readAllStandardOutput()).section('\n', 0, 0);
}

class TestProgram : public QObject {
    Q_OBJECT
    QProcessEnvironment m_environment = ProgramFolder::headless();

private slots:
    // A stale DISPLAY (an ssh session, a cron job that exports one): help on
    // standard output, the start-up failure on standard error, no abort.
    void unreachableDisplay()
    {
        int number = 170;
        while (QFile::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(number))
            || QFile::exists(QStringLiteral("/tmp/.X%1-lock").arg(number)))
            ++number;
        QProcessEnvironment environment = m_environment;
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

    void underX()
    {
        for (const bool checking : { false, true }) {
            QProcess server; // picks a free display itself and says which once it is ready
            server.start(QStringLiteral("Xvfb"), { "-displayfd", "1", "-nolisten", "tcp", "-noreset" });
            QVERIFY2(server.waitForStarted(5000), "needs Xvfb (./dev.sh test installs it)");
            QVERIFY(QTest::qWaitFor([&] { return server.canReadLine(); }, 10000));
            const TemporarySettings settings;
            const LoopbackPort port = LoopbackPort::blackholed();
            const MarkerScript script;
            // Everything but "Argument", which the closing writes when due.
            QVERIFY(settings.writeFile(
                QStringLiteral("[Settings]\nDeviceName=127.0.0.1\nPort=%1\nTimeout=10\nEXE=1\nEXEName=%2\n")
                    .arg(port.port())
                    .arg(script.path())
                    .toUtf8()));
            QProcessEnvironment environment = m_environment;
            environment.insert(QStringLiteral("DISPLAY"), ':' + QString::fromLatin1(server.readLine()).trimmed());
            environment.insert(QStringLiteral("XDG_CONFIG_HOME"), settings.folder());
            // The sanitizer's leak search at exit is no part of the program's own ending.
            environment.insert(QStringLiteral("ASAN_OPTIONS"), QStringLiteral("detect_leaks=0"));
            QProcess program;
            start(program, QStringLiteral(OSTREL_PROGRAM), {}, environment);
            // Mapped only once the module beside the program has been loaded.
            const QString window = xdotool({ "search", "--sync", "--onlyvisible", "--name", "^Ostrel " }, environment);
            QVERIFY2(!window.isEmpty(), "needs xdotool (./dev.sh test installs it)");
            xdotool({ "windowfocus", "--sync", window }, environment);
            if (checking) {
                xdotool({ "key", "Return" }, environment);
                QTest::qWait(500);
                QCOMPARE(program.state(), QProcess::Running);
            }
            QElapsedTimer clock;
            clock.start(), xdotool({ "key", "Escape" }, environment);
            QVERIFY(program.waitForFinished(3000));
            QVERIFY2(clock.elapsed() <= (checking ? 500 : 300), qPrintable(QString::number(clock.elapsed()) + " ms"));
            QVERIFY(!script.waitForMarker(checking ? 500 : 0));
            QCOMPARE(settings.storedTexts().contains("Argument"), checking);
            server.terminate(), server.waitForFinished(5000);
        }
    }
};

WINDOW_TEST(TestProgram)
#include "tst_program.moc"
