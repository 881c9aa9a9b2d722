// The follow-up command: real scripts started detached, the silent switch,
// look-up on PATH, no shell ever reading the texts, and documents through
// the desktop's tools.
#include "MarkerScript.h"
#include "actions/RunCommand.h"
#include "actions/modWin32Api.h"

#include <QDir>
#include <QFile>
#include <QScopeGuard>
#include <QTest>

using namespace modWin32Api;

namespace {

// Sets (or, given nothing, removes) an environment variable until the guard goes.
auto setEnvironment(const char *name, const std::optional<QByteArray> &value)
{
    const auto apply = [name](const std::optional<QByteArray> &to) { to ? qputenv(name, *to) : qunsetenv(name); };
    const auto previous = qEnvironmentVariableIsSet(name) ? std::optional<QByteArray>(qgetenv(name)) : std::nullopt;
    apply(value);
    return qScopeGuard([apply, previous] { apply(previous); });
}

// The started script's streams: all on the null device, or output and errors
// where ours go (our input may be closed, and its number then reused).
void verifyStreams(const MarkerScript::Record &record, bool hidden)
{
    if (hidden && descriptorTarget(1) == QLatin1String("/dev/null"))
        QSKIP("this test's own output goes to the null device");
    const QString null = QStringLiteral("/dev/null");
    if (hidden)
        QCOMPARE(record.standardInput, null);
    QCOMPARE(record.standardOutput, hidden ? null : descriptorTarget(1));
    QCOMPARE(record.standardError, hidden ? null : descriptorTarget(2));
}

} // namespace

class TestRunCommand : public QObject
{
    Q_OBJECT
private slots:
    void runCommand_data();
    void runCommand();
    void documents_data();
    void documents();
};

void TestRunCommand::runCommand_data()
{
    QTest::addColumn<QString>("name");      // the marker script's file name
    QTest::addColumn<QString>("command");   // {script}, {folder}: the marker script and its folder
    QTest::addColumn<QString>("argument");
    QTest::addColumn<QString>("from");      // "path": its folder on PATH; "folder": it is the current folder
    QTest::addColumn<bool>("result");
    QTest::addColumn<bool>("hidden");
    QTest::addColumn<QStringList>("arguments");   // the started script's; empty when nothing starts

    const QString script = QStringLiteral("marker.sh");
    const QStringList none;
    QTest::newRow("argument with a quoted blank")
        << script << "{script}" << R"(one "two words" three)" << "" << true << false << QStringList{"one", "two words", "three"};
    QTest::newRow("lower-case switch, hidden") << script << "{script}/s" << "quiet" << "" << true << true << QStringList{"quiet"};
    QTest::newRow("blanks before the switch") << script << "{script}   /S" << "a" << "" << true << true << QStringList{"a"};
    QTest::newRow("switch alone") << script << "/S" << "a" << "" << false << false << none;
    QTest::newRow("switch not at the end") << script << "{script}/Sx" << "a" << "" << false << false << none;
    QTest::newRow("missing file") << script << "{folder}/missing.sh" << "a" << "" << false << false << none;
    QTest::newRow("executable that is no program") << script << "{folder}/broken" << "a" << "" << false << false << none;
    QTest::newRow("empty command: nothing to run") << script << "" << "a" << "" << true << false << none;
    QTest::newRow("shell syntax in the argument")
        << script << "{script}"
        << "a;b ; touch {folder}/X $(touch {folder}/X) `touch {folder}/X` | touch {folder}/X && touch {folder}/X"
        << "" << true << false
        << QStringList{"a;b", ";",     "touch", "{folder}/X", "$(touch", "{folder}/X)", "`touch",
                       "{folder}/X`", "|", "touch", "{folder}/X", "&&", "touch", "{folder}/X"};
    QTest::newRow("shell syntax in the command")
        << script << "{script}; touch {folder}/X $(touch {folder}/X) /S" << "" << "" << false << false << none;
    QTest::newRow("bare name found on PATH") << "ostrel-marker" << "ostrel-marker" << "x" << "path" << true << false << QStringList{"x"};
    QTest::newRow("leading blank is part of the name") << " blank.sh" << " blank.sh" << "x" << "folder" << true << false << QStringList{"x"};
    QTest::newRow("leading blank names another file") << "blank.sh" << " blank.sh" << "x" << "path folder" << false << false << none;
}

void TestRunCommand::runCommand()
{
    QFETCH(QString, name);
    QFETCH(QString, command);
    QFETCH(QString, argument);
    QFETCH(QString, from);
    QFETCH(bool, result);
    QFETCH(bool, hidden);
    QFETCH(QStringList, arguments);

    const MarkerScript script(name);
    QVERIFY(MarkerScript::writeExecutable(script.filePath(QStringLiteral("broken")), "\x01\x02 no program\n"));
    const auto expand = [&script](QString text) {
        return text.replace(QLatin1String("{script}"), script.path()).replace(QLatin1String("{folder}"), script.folder());
    };
    const QTemporaryDir elsewhere;
    const QString previousFolder = QDir::currentPath();
    QDir::setCurrent(from.contains(QLatin1String("folder")) ? script.folder() : elsewhere.path());
    const auto back = qScopeGuard([&previousFolder] { QDir::setCurrent(previousFolder); });
    const auto path = setEnvironment("PATH", from.contains(QLatin1String("path"))
                                                 ? QFile::encodeName(script.folder()) + ":/usr/bin:/bin"
                                                 : QByteArray("/usr/bin:/bin"));

    QCOMPARE(modCommand::Run_Command(expand(command), expand(argument)), result);
    if (!arguments.isEmpty()) {
        QVERIFY(script.waitForMarker());
        const auto record = script.record();
        QVERIFY(record);
        for (QString &expected : arguments)
            expected = expand(expected);
        QCOMPARE(record->arguments, arguments);
        QCOMPARE(record->folder, QDir(QDir::currentPath()).canonicalPath());   // it works in the current folder
        verifyStreams(*record, hidden);
    }
    // Nothing ever read the texts as shell syntax.
    QVERIFY(!QFile::exists(script.filePath(QStringLiteral("X"))));
}

void TestRunCommand::documents_data()
{
    QTest::addColumn<QString>("desktop");   // "ready", "no display", "no application" or "hangs"
    QTest::addColumn<bool>("folder");
    QTest::addColumn<int>("showState");
    QTest::addColumn<bool>("opened");

    QTest::newRow("text file, hidden") << "ready" << false << SW_HIDE << true;
    QTest::newRow("folder") << "ready" << true << SW_SHOWNORMAL << true;
    QTest::newRow("no display") << "no display" << false << SW_SHOWNORMAL << false;
    QTest::newRow("no application for the type") << "no application" << false << SW_SHOWNORMAL << false;
    QTest::newRow("type query hangs") << "hangs" << false << SW_SHOWNORMAL << false;
}

void TestRunCommand::documents()
{
    QFETCH(QString, desktop);
    QFETCH(bool, folder);
    QFETCH(int, showState);
    QFETCH(bool, opened);

    // xdg-open records what it was asked to open; xdg-mime answers as the desktop would.
    const MarkerScript opener(QStringLiteral("xdg-open"));
    const QByteArray defaultApplication = desktop == QLatin1String("no application") ? "" : "viewer.desktop";
    QVERIFY(MarkerScript::writeExecutable(
        opener.filePath(QStringLiteral("xdg-mime")),
        "#!/bin/sh\n" + QByteArray(desktop == QLatin1String("hangs") ? "exec /bin/sleep 60\n" : "")
            + "case \"$1 $2\" in\n"
              "'query filetype') if [ -d \"$3\" ]; then echo inode/directory; "
              "else echo 'text/plain; charset=us-ascii'; fi ;;\n"
              "'query default') case \"$3\" in text/plain|inode/directory) echo '"
            + defaultApplication + "' ;; esac ;;\n*) exit 1 ;;\nesac\n"));
    const QTemporaryDir documents;
    const QString document = folder ? documents.path() : documents.filePath(QStringLiteral("notes.txt"));
    QFile file(document);
    QVERIFY(folder || file.open(QIODevice::WriteOnly));
    const auto path = setEnvironment("PATH", QFile::encodeName(opener.folder()));
    const auto x11 = setEnvironment(
        "DISPLAY", desktop == QLatin1String("no display") ? std::nullopt : std::optional<QByteArray>(":99"));
    const auto wayland = setEnvironment("WAYLAND_DISPLAY", std::nullopt);

    QCOMPARE(Shell_Execute(document, QStringLiteral("ignored parameters"), showState) > 32, opened);
    if (opened) {
        QVERIFY(opener.waitForMarker());
        const auto record = opener.record();
        QVERIFY(record);
        QCOMPARE(record->arguments, QStringList{document});
        verifyStreams(*record, showState == SW_HIDE);
    }
}

QTEST_GUILESS_MAIN(TestRunCommand)
#include "tst_runcommand.moc"
