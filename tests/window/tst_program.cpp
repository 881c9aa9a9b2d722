// The built program as a user starts it: from the build tree it finds and
// loads its window module; under a real X server (Xvfb) its window goes,
// and the process ends, at once on Escape, also in the middle of a check;
// with a display that cannot be reached it answers as with none. And the
// help page beside it explains calling sequences the program reads so.
#include "LoopbackPeers.h"
#include "MarkerScript.h"
#include "TemporarySettings.h"
#include "WindowTesting.h"
#include "entry/CallingSequence.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTest>

namespace {

// A display number with nothing behind it.
QString unusedDisplay(int from)
{
    for (int number = from; number < from + 50; ++number) {
        if (!QFile::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(number))
            && !QFile::exists(QStringLiteral("/tmp/.X%1-lock").arg(number)))
            return QStringLiteral(":%1").arg(number);
    }
    return QString();
}

QString run(const QString &program, const QStringList &arguments, const QProcessEnvironment &environment)
{
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(program, arguments);
    if (!process.waitForFinished(10000))
        process.kill();
    return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
}

} // namespace

class TestProgram : public QObject
{
    Q_OBJECT
    QProcessEnvironment m_environment = QProcessEnvironment::systemEnvironment();

private slots:
    void initTestCase()
    {
        m_environment.remove(QStringLiteral("QT_QPA_PLATFORM"));
        m_environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
    }

    void unreachableDisplay_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("standardOutput");
        QTest::addColumn<QString>("standardError");
        QTest::newRow("/?") << QStringList{"/?"} << 0 << "Use the following calling sequence..." << "";
        QTest::newRow("empty command line") << QStringList{} << 1 << "" << "Error loading main form, ";
    }
    // A stale DISPLAY (an ssh session, a cron job that exports one) is no display.
    void unreachableDisplay()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, exitCode);
        QFETCH(QString, standardOutput);
        QFETCH(QString, standardError);
        QProcessEnvironment environment = m_environment;
        environment.insert(QStringLiteral("DISPLAY"), unusedDisplay(170));
        QProcess program;
        program.setProcessEnvironment(environment);
        program.start(QStringLiteral(OSTREL_PROGRAM), arguments);
        QVERIFY(program.waitForFinished(20000));
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QCOMPARE(program.exitCode(), exitCode);
        QVERIFY(program.readAllStandardOutput().startsWith(standardOutput.toUtf8()));
        QVERIFY(program.readAllStandardError().startsWith(standardError.toUtf8()));
    }

    void underX_data()
    {
        QTest::addColumn<bool>("checking");
        QTest::addColumn<int>("endsWithin"); // ms after Escape
        QTest::newRow("Escape") << false << 300;
        QTest::newRow("Escape during a check of a blackholed port") << true << 500;
    }
    void underX()
    {
        QFETCH(bool, checking);
        QFETCH(int, endsWithin);
        if (QStandardPaths::findExecutable(QStringLiteral("Xvfb")).isEmpty()
            || QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty())
            QSKIP("needs Xvfb and xdotool (./dev.sh test installs them)");
        QProcess server;
        QString display;
        for (int attempt = 0; attempt < 5 && server.state() != QProcess::Running; ++attempt) {
            display = unusedDisplay(120 + 10 * attempt);
            server.start(QStringLiteral("Xvfb"), {display, QStringLiteral("-nolisten"), QStringLiteral("tcp")});
            server.waitForStarted(5000);
            const QString socket = QStringLiteral("/tmp/.X11-unix/X") + display.mid(1);
            (void)QTest::qWaitFor([&] { return QFile::exists(socket) || server.state() != QProcess::Running; }, 10000);
        }
        QVERIFY(server.state() == QProcess::Running);
        QProcessEnvironment environment = m_environment;
        environment.insert(QStringLiteral("DISPLAY"), display);

        const TemporarySettings settings;
        const LoopbackPort port = LoopbackPort::blackholed();
        const MarkerScript script;
        // Everything but "Argument", which the closing writes.
        QVERIFY(settings.writeFile(QStringLiteral("[Settings]\nDeviceName=127.0.0.1\nPort=%1\nPortType=3\nTimeout=10\n"
                                                  "EXE=1\nEXEOK=False\nEXEName=%2\n")
                                       .arg(port.port()).arg(script.path()).toUtf8()));
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), settings.folder());
        QProcess program;
        program.setProcessEnvironment(environment);
        program.start(QStringLiteral(OSTREL_PROGRAM), QStringList());
        // Mapped only once the module beside the program has been loaded.
        const QString window = run(QStringLiteral("xdotool"), {"search", "--sync", "--onlyvisible", "--name", "^Ostrel "},
                                   environment).section(QLatin1Char('\n'), 0, 0);
        QVERIFY2(!window.isEmpty(), program.readAllStandardError().constData());
        run(QStringLiteral("xdotool"), {"windowfocus", "--sync", window}, environment);
        if (checking) {
            run(QStringLiteral("xdotool"), {"key", "Return"}, environment);
            QTest::qWait(500);
            QCOMPARE(program.state(), QProcess::Running);
        }
        QElapsedTimer clock;
        clock.start();
        run(QStringLiteral("xdotool"), {"key", "Escape"}, environment);
        QVERIFY2(program.waitForFinished(endsWithin + 2000), "the program did not end");
        QVERIFY2(clock.elapsed() <= endsWithin, qPrintable(QStringLiteral("ended after %1 ms").arg(clock.elapsed())));
        QCOMPARE(program.exitCode(), 0);
        QVERIFY(!script.waitForMarker(checking ? 500 : 0));
        QCOMPARE(settings.storedTexts().contains(QStringLiteral("Argument")), checking);
        server.terminate();
        server.waitForFinished(5000);
    }

    // Every example line of the help page ("ostrel ..." in its <pre> blocks,
    // the template aside) is read as its text says, and the build puts the
    // page beside the program.
    void helpPageExamples()
    {
        QFile page(QStringLiteral(OSTREL_HELP_PAGE)), built(QStringLiteral(OSTREL_PROGRAM ".htm"));
        QVERIFY(page.open(QIODevice::ReadOnly) && built.open(QIODevice::ReadOnly));
        const QString text = QString::fromUtf8(page.readAll());
        QCOMPARE(built.readAll(), text.toUtf8());
        static const QRegularExpression example(QStringLiteral("<pre>(?:[^<]*/)?ostrel ((?!DeviceName)[^<]*)</pre>"));
        QStringList read;
        for (auto match = example.globalMatch(text); match.hasNext();) {
            const auto request = CallingSequence::read(match.next().captured(1),
                                                       [](const QString &) { return QStringLiteral("192.0.2.1"); });
            QVERIFY(request);
            read << QStringList{request->strAddress, request->strPort, request->strTimeout,
                                request->bolPass ? "PASS" : "FAIL", request->strCommand, request->strArgument,
                                request->strMailServer, request->strRecipients}.join(QLatin1Char('|'));
        }
        QCOMPARE(read, (QStringList{
                           "10.0.0.5|22|5|FAIL||||",
                           "192.0.2.1|23|15|FAIL|/usr/bin/logger|fileserver1-telnet-down||",
                           "192.0.2.1|23|15|PASS|||mail.example.com|admin@example.com,oncall@example.com",
                           "10.0.0.5|443|10|FAIL|/usr/local/bin/restart-web.sh /s|||",
                       }));
    }
};

WINDOW_TEST(TestProgram)
#include "tst_program.moc"
