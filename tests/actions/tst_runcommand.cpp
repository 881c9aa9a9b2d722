// The follow-up command: real scripts started detached, the silent switch,
// the shell's result codes, and documents through the desktop's tools.
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

QString expand(QString text, const MarkerScript &script)
{
    return text.replace(QLatin1String("{script}"), script.path())
        .replace(QLatin1String("{folder}"), script.folder());
}

// The started script's streams: all on the null device, or output and errors
// where ours go (our input may be closed, and its number then reused).
void verifyStreams(const MarkerScript::Record &record, bool hidden)
{
    if (hidden) {
        if (descriptorTarget(1) == QLatin1String("/dev/null"))
            QSKIP("this test's own output goes to the null device");
        QCOMPARE(record.standardInput, QStringLiteral("/dev/null"));
        QCOMPARE(record.standardOutput, QStringLiteral("/dev/null"));
        QCOMPARE(record.standardError, QStringLiteral("/dev/null"));
    } else {
        QCOMPARE(record.standardOutput, descriptorTarget(1));
        QCOMPARE(record.standardError, descriptorTarget(2));
    }
}

} // namespace

class TestRunCommand : public QObject
{
    Q_OBJECT
private slots:
    void runCommand_data();
    void runCommand();
    void shellResult_data();
    void shellResult();
    void bareNames_data();
    void bareNames();
    void documents_data();
    void documents();
};

void TestRunCommand::runCommand_data()
{
    QTest::addColumn<QString>("command");   // {script}, {folder}: the marker script and its folder
    QTest::addColumn<QString>("argument");
    QTest::addColumn<bool>("result");
    QTest::addColumn<bool>("hidden");
    QTest::addColumn<QStringList>("arguments");   // the started script's; empty when nothing starts

    QTest::newRow("argument with a quoted blank")
        << "{script}" << R"(one "two words" three)" << true << false << QStringList{"one", "two words", "three"};
    QTest::newRow("lower-case switch, hidden") << "{script}/s" << "quiet" << true << true << QStringList{"quiet"};
    QTest::newRow("blanks before the switch") << "{script}   /S" << "a" << true << true << QStringList{"a"};
    QTest::newRow("switch alone") << "/S" << "a" << false << false << QStringList{};
    QTest::newRow("switch not at the end") << "{script}/Sx" << "a" << false << false << QStringList{};
    QTest::newRow("missing file") << "{folder}/missing.sh" << "a" << false << false << QStringList{};
    QTest::newRow("empty command: nothing to run") << "" << "a" << true << false << QStringList{};
    QTest::newRow("shell syntax in the argument")
        << "{script}"
        << "a;b ; touch {folder}/X $(touch {folder}/X) `touch {folder}/X` | touch {folder}/X && touch {folder}/X"
        << true << false
        << QStringList{"a;b", ";",     "touch", "{folder}/X", "$(touch", "{folder}/X)", "`touch",
                       "{folder}/X`", "|", "touch", "{folder}/X", "&&", "touch", "{folder}/X"};
    QTest::newRow("shell syntax in the command")
        << "{script}; touch {folder}/X $(touch {folder}/X) /S" << "" << false << false << QStringList{};
}

void TestRunCommand::runCommand()
{
    QFETCH(QString, command);
    QFETCH(QString, argument);
    QFETCH(bool, result);
    QFETCH(bool, hidden);
    QFETCH(QStringList, arguments);

    const MarkerScript script;
    QCOMPARE(modCommand::Run_Command(expand(command, script), expand(argument, script)), result);
    if (result && !command.isEmpty()) {
        QVERIFY(script.waitForMarker());
        const auto record = script.record();
        QVERIFY(record);
        for (QString &expected : arguments)
            expected = expand(expected, script);
        QCOMPARE(record->arguments, arguments);
        verifyStreams(*record, hidden);
    }
    // Nothing ever read the texts as shell syntax.
    QVERIFY(!QFile::exists(script.filePath(QStringLiteral("X"))));
}

void TestRunCommand::shellResult_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("code");

    QTest::newRow("empty") << "" << SE_ERR_FNF;
    QTest::newRow("missing file") << "{folder}/missing.sh" << SE_ERR_FNF;
    QTest::newRow("missing folder") << "{folder}/none/missing.sh" << SE_ERR_PNF;
    QTest::newRow("a file taken for a folder") << "{script}/inside" << SE_ERR_PNF;
    QTest::newRow("executable that is no program") << "{folder}/broken" << ERROR_BAD_FORMAT;
}

void TestRunCommand::shellResult()
{
    QFETCH(QString, file);
    QFETCH(int, code);

    const MarkerScript script;
    QVERIFY(MarkerScript::writeExecutable(script.filePath(QStringLiteral("broken")), "\x01\x02 no program\n"));
    QCOMPARE(Shell_Execute(expand(file, script), QString(), SW_SHOWNORMAL), code);
}

void TestRunCommand::bareNames_data()
{
    QTest::addColumn<QString>("scriptName");
    QTest::addColumn<QString>("command");
    QTest::addColumn<bool>("onPath");
    QTest::addColumn<bool>("fromScriptFolder");   // the script's folder is the current one
    QTest::addColumn<bool>("result");

    QTest::newRow("found on PATH") << "ostrel-marker" << "ostrel-marker" << true << false << true;
    QTest::newRow("leading blank is part of the name") << " blank.sh" << " blank.sh" << false << true << true;
    QTest::newRow("leading blank names another file") << "blank.sh" << " blank.sh" << true << true << false;
}

void TestRunCommand::bareNames()
{
    QFETCH(QString, scriptName);
    QFETCH(QString, command);
    QFETCH(bool, onPath);
    QFETCH(bool, fromScriptFolder);
    QFETCH(bool, result);

    const MarkerScript script(scriptName);
    const QTemporaryDir elsewhere;
    const QString previousFolder = QDir::currentPath();
    QDir::setCurrent(fromScriptFolder ? script.folder() : elsewhere.path());
    const auto back = qScopeGuard([&previousFolder] { QDir::setCurrent(previousFolder); });
    const auto path = setEnvironment("PATH", onPath ? QFile::encodeName(script.folder()) + ":/usr/bin:/bin"
                                                    : QByteArray("/usr/bin:/bin"));

    QCOMPARE(modCommand::Run_Command(command, QStringLiteral("x")), result);
    if (result) {
        QVERIFY(script.waitForMarker());
        const auto record = script.record();
        QVERIFY(record);
        QCOMPARE(record->arguments, QStringList{QStringLiteral("x")});
        // It works in the current folder.
        QCOMPARE(record->folder, QDir(QDir::currentPath()).canonicalPath());
    }
}

void TestRunCommand::documents_data()
{
    QTest::addColumn<QString>("desktop");   // "ready", "no display", "no application" or "hangs"
    QTest::addColumn<bool>("folder");
    QTest::addColumn<int>("showState");
    QTest::addColumn<int>("code");

    QTest::newRow("text file, hidden") << "ready" << false << SW_HIDE << kShellAccepted;
    QTest::newRow("folder") << "ready" << true << SW_SHOWNORMAL << kShellAccepted;
    QTest::newRow("no display") << "no display" << false << SW_SHOWNORMAL << SE_ERR_NOASSOC;
    QTest::newRow("no application for the type") << "no application" << false << SW_SHOWNORMAL << SE_ERR_NOASSOC;
    QTest::newRow("type query hangs") << "hangs" << false << SW_SHOWNORMAL << SE_ERR_NOASSOC;
}

void TestRunCommand::documents()
{
    QFETCH(QString, desktop);
    QFETCH(bool, folder);
    QFETCH(int, showState);
    QFETCH(int, code);

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
            + defaultApplication + "' ;; esac ;;\n"
                                   "*) exit 1 ;;\n"
                                   "esac\n"));
    const QTemporaryDir documents;
    const QString document = folder ? documents.path() : documents.filePath(QStringLiteral("notes.txt"));
    if (!folder) {
        QFile file(document);
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    const auto path = setEnvironment("PATH", QFile::encodeName(opener.folder()));
    const auto x11 = setEnvironment(
        "DISPLAY", desktop == QLatin1String("no display") ? std::nullopt : std::optional<QByteArray>(":99"));
    const auto wayland = setEnvironment("WAYLAND_DISPLAY", std::nullopt);

    QCOMPARE(Shell_Execute(document, QStringLiteral("ignored parameters"), showState), code);
    if (code > 32) {
        QVERIFY(opener.waitForMarker());
        const auto record = opener.record();
        QVERIFY(record);
        QCOMPARE(record->arguments, QStringList{document});
        verifyStreams(*record, showState == SW_HIDE);
    }
}

QTEST_GUILESS_MAIN(TestRunCommand)
#include "tst_runcommand.moc"
