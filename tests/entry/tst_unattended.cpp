// The unattended run, step by step as tables (the calling sequence, the
// result-log writer, the follow-up command), then the real program, copied
// into a folder of its own and run the way a scheduler runs it: no display,
// a calling sequence, the logs beside it.
#include "LoopbackPeers.h"
#include "LoopbackResolver.h"
#include "MarkerScript.h"
#include "ProgramFolder.h"
#include "actions/ResultLogs.h"
#include "actions/RunCommand.h"
#include "actions/modWin32Api.h"
#include "entry/CallingSequence.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString kSuccess = QStringLiteral("success.log");
const QString kError = QStringLiteral("error.log");

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

// A silent port (backlog 0, queue full) that can start answering: the
// connection attempts waiting on it are taken when their SYN is sent again,
// about a second after they began, all in the same instant.
class LatePort
{
public:
    LatePort()
    {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        ::bind(m_fd, reinterpret_cast<sockaddr *>(&address), size);
        ::listen(m_fd, 0);
        ::getsockname(m_fd, reinterpret_cast<sockaddr *>(&address), &size);
        ::connect(m_filler, reinterpret_cast<sockaddr *>(&address), size);
        m_port = ntohs(address.sin_port);
    }
    ~LatePort() { ::close(m_filler), ::close(m_fd); }
    quint16 port() const { return m_port; }
    void open() { ::listen(m_fd, 64); }

private:
    int m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int m_filler = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    quint16 m_port = 0;
};

QProcessEnvironment withExitStatus(const QString &value)
{
    QProcessEnvironment environment = ProgramFolder::headless();
    environment.remove(QStringLiteral("OSTREL_EXIT_STATUS"));
    if (!value.isNull())
        environment.insert(QStringLiteral("OSTREL_EXIT_STATUS"), value);
    return environment;
}

// The expected request as one text: device|address|port|timeout|PASS/FAIL|command|argument|server|recipients.
QString describe(const CheckRequest &request)
{
    return QStringList{request.strDeviceName, request.strAddress, request.strPort, request.strTimeout,
                       request.bolPass ? QStringLiteral("PASS") : QStringLiteral("FAIL"),
                       request.strCommand, request.strArgument, request.strMailServer,
                       request.strRecipients}
        .join(QLatin1Char('|'));
}

// A name ending in ".invalid" does not resolve.
QString lookUp(const QString &name)
{
    return name.endsWith(QLatin1String(".invalid")) ? QString() : QStringLiteral("addr(") + name + QLatin1Char(')');
}

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

class TestUnattended : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void callingSequence_data();
    void callingSequence();
    void writeLine_data();
    void writeLine();
    void runCommand_data();
    void runCommand();
    void documents_data();
    void documents();
    void run_data();
    void run();
    void overlappingRunsKeepLinesWhole_data();
    void overlappingRunsKeepLinesWhole();
    void plantedLogsWhileWaiting_data();
    void plantedLogsWhileWaiting();

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

void TestUnattended::callingSequence_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");   // empty: rejected

    const QString rejected;
    // Device and port
    QTest::newRow("device alone") << "host" << rejected;
    QTest::newRow("device and comma") << "host," << rejected;
    QTest::newRow("blank device") << "  ,23,15" << rejected;
    QTest::newRow("port without comma") << "host,23" << rejected;
    QTest::newRow("blank port") << "host,  ,15" << rejected;
    // Timeout
    QTest::newRow("comma after port, nothing else") << "host,23," << rejected;
    QTest::newRow("empty timeout before a trigger") << "host,23,,PASS" << rejected;
    QTest::newRow("blanks trimmed from device and port") << "  host  ,  23 ,15"
                                                         << "host|addr(host)|23|15|FAIL||||";
    QTest::newRow("last field timeout kept untrimmed") << "host,23, 15 " << "host|addr(host)|23| 15 |FAIL||||";
    QTest::newRow("timeout of blanks only is still a timeout") << "host,23,   " << "host|addr(host)|23|   |FAIL||||";
    QTest::newRow("trailing comma after timeout") << "host,23,15," << rejected;
    // Trigger
    QTest::newRow("any word starting with p") << "host,23,15,probably" << "host|addr(host)|23|15|PASS||||";
    QTest::newRow("blank before PASS means FAIL") << "host, 23, 15, PASS" << "host|addr(host)|23|15|FAIL||||";
    QTest::newRow("trailing comma after trigger") << "host,23,15,PASS," << rejected;
    QTest::newRow("empty trigger field") << "host,23,15,,cmd" << "host|addr(host)|23|15|FAIL|cmd|||";
    // Command and argument
    QTest::newRow("command last, untrimmed") << "host,23,15,FAIL, ping.sh /S " << "host|addr(host)|23|15|FAIL| ping.sh /S |||";
    QTest::newRow("trailing comma after command") << "host,23,15,FAIL,cmd," << rejected;
    QTest::newRow("argument last, untrimmed") << "host,23,15,PASS, cmd , -c 1 " << "host|addr(host)|23|15|PASS|cmd| -c 1 ||";
    QTest::newRow("trailing comma after argument") << "host,23,15,PASS,cmd,arg," << rejected;
    // Mail server and recipients
    QTest::newRow("mail server last") << "host,23,15,PASS,cmd,arg,mail" << rejected;
    QTest::newRow("mail server, comma and blanks") << "host,23,15,PASS,cmd,arg,mail,   " << rejected;
    QTest::newRow("empty mail server, rest ignored") << "host,23,15,PASS,cmd,arg,,a@x,b@y"
                                                     << "host|addr(host)|23|15|PASS|cmd|arg||";
    QTest::newRow("blanks around recipients, trailing comma")
        << "host, 23, 15, PASS, , , mail , a@x , b@y ,"
        << "host|addr(host)|23|15|FAIL|||mail|a@x,b@y";
    QTest::newRow("empty recipient field kept") << "host,23,15,FAIL,,,mail,a@x,,b@y"
                                                << "host|addr(host)|23|15|FAIL|||mail|a@x,,b@y";
    // Port and timeout are read only when the probe is called.
    QTest::newRow("port and timeout that are no numbers") << "host,telnet,soon"
                                                          << "host|addr(host)|telnet|soon|FAIL||||";
    QTest::newRow("port above 16 bits") << "host,99999,15" << "host|addr(host)|99999|15|FAIL||||";
    // Only a name that is no dotted address is looked up.
    QTest::newRow("dotted address, not looked up") << " 10.0.0.1 ,23,15" << "10.0.0.1|10.0.0.1|23|15|FAIL||||";
    QTest::newRow("name that does not resolve") << "nowhere.invalid,23,15" << "nowhere.invalid||23|15|FAIL||||";
}

void TestUnattended::callingSequence()
{
    QFETCH(QString, text);
    QFETCH(QString, expected);
    const auto request = CallingSequence::read(text, lookUp);
    QCOMPARE(request.has_value(), !expected.isEmpty());
    if (request)
        QCOMPARE(describe(*request), expected);
}

void TestUnattended::writeLine_data()
{
    QTest::addColumn<QString>("planted");   // what stands at the log's path first
    QTest::addColumn<bool>("append");
    QTest::addColumn<QStringList>("written");
    QTest::addColumn<QStringList>("kept");   // the log's messages afterwards

    const QStringList three{"check failed", "command failed", "mail failed"};
    const QStringList none;
    QTest::newRow("success log keeps only the latest line") << "" << false << three << QStringList{three.last()};
    QTest::newRow("error log keeps every line in order") << "" << true << three << three;
    QTest::newRow("empty message: time stamp and tab") << "" << true << QStringList{""} << QStringList{""};
    QTest::newRow("line breaks and other controls become blanks")
        << "" << true << QStringList{"Ästhetik\r\n2026-01-01 00:00:00\tPort 22\x01\x7f is available."}
        << QStringList{"Ästhetik  2026-01-01 00:00:00 Port 22   is available."};
    QTest::newRow("FIFO with a reader as error log") << "fifo" << true << three << none;
    QTest::newRow("hard link as error log") << "hard link" << true << three << none;
    QTest::newRow("folder as error log") << "folder" << true << three << none;
    QTest::newRow("folder as success log") << "folder" << false << three << none;
}

void TestUnattended::writeLine()
{
    QFETCH(QString, planted);
    QFETCH(bool, append);
    QFETCH(QStringList, written);
    QFETCH(QStringList, kept);

    // Links and FIFOs planted while a real run waits are in plantedLogsWhileWaiting.
    QTemporaryDir folder;
    const QString path = folder.filePath(ResultLog::kErrorLog);
    const QByteArray native = QFile::encodeName(path);
    const QString target = folder.filePath(QStringLiteral("root-only"));
    writeFile(target, "secret\n");
    int reader = -1;
    if (planted == QLatin1String("hard link"))
        QVERIFY(::link(QFile::encodeName(target).constData(), native.constData()) == 0);
    else if (planted == QLatin1String("folder"))
        QVERIFY(QDir().mkdir(path));
    else if (planted == QLatin1String("fifo")) {
        // With a reader, opening for writing succeeds: only the file's type tells.
        QVERIFY(::mkfifo(native.constData(), 0666) == 0);
        reader = ::open(native.constData(), O_RDONLY | O_NONBLOCK);
        QVERIFY(reader >= 0);
    }

    struct stat before {};
    ::lstat(native.constData(), &before);
    for (const QString &message : written)
        ResultLog::writeLine(path, message, append);

    if (reader >= 0) {
        char byte;
        QCOMPARE(::read(reader, &byte, 1), ssize_t(0));   // no writer left, nothing sent
        ::close(reader);
    }
    QCOMPARE(readFile(target), QByteArray("secret\n"));
    struct stat after {};
    QCOMPARE(::lstat(native.constData(), &after), 0);
    if (kept.isEmpty())
        QCOMPARE(after.st_mode & S_IFMT, before.st_mode & S_IFMT);   // still what was planted
    else
        QCOMPARE(readLogMessages(path), kept);
    // No new file is left behind beside the log.
    QCOMPARE(QDir(folder.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot),
             (QStringList{ResultLog::kErrorLog, QStringLiteral("root-only")}));
}

void TestUnattended::runCommand_data()
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

void TestUnattended::runCommand()
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

void TestUnattended::documents_data()
{
    QTest::addColumn<QString>("desktop");   // "ready", "no display", "no application" or "hangs"
    QTest::addColumn<bool>("folder");
    QTest::addColumn<int>("showState");
    QTest::addColumn<bool>("opened");

    QTest::newRow("text file, hidden") << "ready" << false << modWin32Api::SW_HIDE << true;
    QTest::newRow("folder") << "ready" << true << modWin32Api::SW_SHOWNORMAL << true;
    QTest::newRow("no display") << "no display" << false << modWin32Api::SW_SHOWNORMAL << false;
    QTest::newRow("no application for the type") << "no application" << false << modWin32Api::SW_SHOWNORMAL << false;
    QTest::newRow("type query hangs") << "hangs" << false << modWin32Api::SW_SHOWNORMAL << false;
}

void TestUnattended::documents()
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

    QCOMPARE(modWin32Api::Shell_Execute(document, QStringLiteral("ignored parameters"), showState) > 32, opened);
    if (opened) {
        QVERIFY(opener.waitForMarker());
        const auto record = opener.record();
        QVERIFY(record);
        QCOMPARE(record->arguments, QStringList{document});
        verifyStreams(*record, showState == modWin32Api::SW_HIDE);
    }
}

void TestUnattended::run_data()
{
    // In the texts, {port} is the listener's port and {script} the marker script.
    QTest::addColumn<QString>("sequence");
    QTest::addColumn<QString>("kind");          // the listener: open, refused or blackholed
    QTest::addColumn<QString>("exitStatus");    // OSTREL_EXIT_STATUS, unset when null
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QStringList>("success");   // the messages of each log; empty: no file
    QTest::addColumn<QStringList>("errors");
    QTest::addColumn<QStringList>("started");   // the command's arguments; empty: not started
    QTest::addColumn<bool>("readOnly");         // program folder read-only, run as another user than root
    QTest::addColumn<QByteArray>("output");     // how standard output or error begins

    const QString unset;
    const QString opted = QStringLiteral("1");
    const QStringList none;
    const QByteArray any;
    const QStringList available{"Port {port} on device 127.0.0.1 is available."};
    const QStringList unavailable{"Port {port} on device 127.0.0.1 is un-available."};
    const QStringList rejected{"Port check not performed: Incorrect calling sequence.",
                               "Type OSTREL /? for calling sequence help."};
    const QStringList twoWords{"two words", "plain"};
    const QString command = QStringLiteral(",{script},\"two words\" plain");
    const QString failed = QStringLiteral("Error executing specified command, /nonexistent/tool");

    // Outcome and exit status.
    QTest::newRow("open port") << "127.0.0.1,{port},5" << "open" << unset << 0 << available << none << none << false << any;
    QTest::newRow("open port, status") << "127.0.0.1,{port},5" << "open" << opted << 0 << available << none << none << false << any;
    QTest::newRow("refused port") << "127.0.0.1,{port},5" << "refused" << unset << 0 << none << unavailable << none << false << any;
    QTest::newRow("refused port, status") << "127.0.0.1,{port},5" << "refused" << opted << 1 << none << unavailable << none << false << any;
    QTest::newRow("status wants exactly 1") << "127.0.0.1,{port},5" << "refused" << "yes" << 0 << none << unavailable << none << false << any;
    QTest::newRow("silent port, timeout 2, status") << "127.0.0.1,{port},2" << "blackholed" << opted << 1 << none << unavailable << none << false << any;
    QTest::newRow("rejected") << "127.0.0.1" << "open" << unset << 0 << none << rejected << none << false << any;
    QTest::newRow("rejected, status") << "127.0.0.1,{port}" << "open" << opted << 2 << none << rejected << none << false << any;
    // Texts as typed.
    QTest::newRow("port that is no number") << "127.0.0.1,port{port},5" << "open" << unset << 0 << none
                                            << QStringList{"Port port{port} on device 127.0.0.1 is un-available."} << none << false << any;
    QTest::newRow("timeout that is no number") << "127.0.0.1,{port},soon" << "open" << unset << 0 << none << unavailable << none << false << any;
    QTest::newRow("host name") << "localhost,{port},5" << "open" << unset << 0
                               << QStringList{"Port {port} on device localhost is available."} << none << none << false << any;
    QTest::newRow("name that does not resolve") << "nohost.invalid,{port},5" << "open" << opted << 1 << none
                                                << QStringList{"Port {port} on device nohost.invalid is un-available."} << none << false << any;
    QTest::newRow("IPv6 open port") << "::1,{port},5" << "open ::1" << unset << 0
                                    << QStringList{"Port {port} on device ::1 is available."} << none << none << false << any;
    QTest::newRow("IPv6 in brackets") << "[::1],{port},5" << "open ::1" << unset << 0
                                      << QStringList{"Port {port} on device [::1] is available."} << none << none << false << any;
    QTest::newRow("IPv6 refused port") << "::1,{port},5" << "refused ::1" << opted << 1 << none
                                       << QStringList{"Port {port} on device ::1 is un-available."} << none << false << any;
    QTest::newRow("IPv6 silent port, timeout 2") << "::1,{port},2" << "blackholed ::1" << opted << 1 << none
                                                 << QStringList{"Port {port} on device ::1 is un-available."} << none << false << any;
    QTest::newRow("name with only an IPv6 address") << "v6only.test,{port},5" << "open ::1" << unset << 0
                                                    << QStringList{"Port {port} on device v6only.test is available."} << none << none << false << any;
    // Dotted, but no address: failing at once, never asking the silent resolver.
    QTest::newRow("999.1.1.1") << "999.1.1.1,{port},1" << "open" << unset << 0 << none
                               << QStringList{"Port {port} on device 999.1.1.1 is un-available."} << none << false << any;
    QTest::newRow("10.0.0.1.5") << "10.0.0.1.5,{port},1" << "open" << unset << 0 << none
                                << QStringList{"Port {port} on device 10.0.0.1.5 is un-available."} << none << false << any;
    QTest::newRow("line breaks in device and command")
        << "evil\r\n2026-01-01 00:00:00\tPort 22 on device 10.9.9.9 is available.,{port},5,FAIL,/nonexistent/tool\r\nforged"
        << "refused" << unset << 0 << none
        << QStringList{"Port {port} on device evil  2026-01-01 00:00:00 Port 22 on device 10.9.9.9 is available. is un-available.",
                       "Error executing specified command, /nonexistent/tool  forged"}
        << none << false << any;
    // The command runs when the trigger matches the outcome, after the result line.
    QTest::newRow("FAIL, check failed: started") << "127.0.0.1,{port},5,FAIL" + command << "refused" << unset << 0 << none << unavailable << twoWords << false << any;
    QTest::newRow("FAIL, check passed: not started") << "127.0.0.1,{port},5,FAIL" + command << "open" << unset << 0 << available << none << none << false << any;
    QTest::newRow("PASS, check passed: started") << "127.0.0.1,{port},5,PASS" + command << "open" << unset << 0 << available << none << twoWords << false << any;
    QTest::newRow("PASS, check failed: not started") << "127.0.0.1,{port},5,PASS" + command << "refused" << unset << 0 << none << unavailable << none << false << any;
    QTest::newRow("command that cannot start") << "127.0.0.1,{port},5,FAIL,/nonexistent/tool,x" << "refused" << opted << 1 << none
                                               << unavailable + QStringList{failed} << none << false << any;
    // A lost result line does not cost the follow-up command, nor the status.
    QTest::newRow("read-only folder, hidden command") << "127.0.0.1,{port},5,FAIL,{script} /s,\"two words\" plain" << "refused" << opted << 1
                                                      << none << none << twoWords << true << any;
    // No unattended run: the logs stay as they were.
    const QByteArray help = "Use the following calling sequence...\n";
    const QStringList oldSuccess{"old success"}, oldError{"old error"};
    QTest::newRow("help") << "/?" << "open" << opted << 0 << oldSuccess << oldError << none << false << help;
    QTest::newRow("help inside a command field") << "127.0.0.1,23,15,FAIL,tool/?" << "open" << opted << 0 << oldSuccess << oldError << none << false << help;
    QTest::newRow("no arguments, no display") << "" << "open" << opted << 1 << oldSuccess << oldError << none << false
                                              << QByteArray("Error loading main form, ");
}

void TestUnattended::run()
{
    QFETCH(QString, sequence);
    QFETCH(QString, kind);
    QFETCH(QString, exitStatus);
    QFETCH(int, exitCode);
    QFETCH(QStringList, success);
    QFETCH(QStringList, errors);
    QFETCH(QStringList, started);
    QFETCH(bool, readOnly);
    QFETCH(QByteArray, output);
    if (!m_resolverConfined)
        QSKIP(qPrintable(QStringLiteral("a look-up that fails would ask the network: ") + m_resolverWhy));

    // The kind names the listener and, after a blank, its address.
    const QString listener = kind.section(QLatin1Char(' '), 1, 1, QString::SectionSkipEmpty);
    const QString address = listener.isEmpty() ? QStringLiteral("127.0.0.1") : listener;
    const QString what = kind.section(QLatin1Char(' '), 0, 0);
    const LoopbackPort port = what == QLatin1String("open") ? LoopbackPort::open(address)
        : what == QLatin1String("refused")                   ? LoopbackPort::refused(address)
                                                             : LoopbackPort::blackholed(address);
    const MarkerScript script;
    const auto expand = [&](QString text) {
        return text.replace(QLatin1String("{port}"), QString::number(port.port()))
            .replace(QLatin1String("{script}"), script.path());
    };
    ProgramFolder program;
    // Whatever an earlier run left is gone first.
    writeFile(program.filePath(kSuccess), "2026-01-01 00:00:00\told success\r\n");
    writeFile(program.filePath(kError), "2026-01-01 00:00:00\told error\r\n");
    const auto everyone = QFile::ReadOwner | QFile::ExeOwner | QFile::ReadGroup | QFile::ExeGroup
        | QFile::ReadOther | QFile::ExeOther;
    if (readOnly) {
        QVERIFY(QFile::remove(program.filePath(kSuccess)) && QFile::remove(program.filePath(kError)));
        QVERIFY(QFile::setPermissions(program.path(), everyone));
    }
    // Blank-separated arguments are joined into one text, as a shell passes `ostrel a, b, c`.
    const QStringList arguments = expand(sequence).split(QLatin1Char(' '), Qt::SkipEmptyParts);
    const auto run = readOnly ? program.runAsNobody(arguments, 60000, withExitStatus(exitStatus))
                              : program.run(arguments, 60000, withExitStatus(exitStatus));
    QVERIFY(QFile::setPermissions(program.path(), everyone | QFile::WriteOwner));
    QVERIFY(run.finished);
    // The process ends when its work ends: nothing left waiting for a look-up.
    const int timeout = sequence.section(QLatin1Char(','), 2, 2).toInt();
    QVERIFY2(run.elapsedMs < (timeout > 0 ? timeout : 5) * 1000 + 500, qPrintable(QString::number(run.elapsedMs)));
    QCOMPARE(run.exitStatus, QProcess::NormalExit);
    QCOMPARE(run.exitCode, exitCode);
    QVERIFY(run.standardOutput.startsWith(output) || run.standardError.startsWith(output));

    for (const auto &[log, expected] : {std::pair{kSuccess, success}, std::pair{kError, errors}}) {
        QStringList messages;
        for (const QString &message : expected)
            messages << expand(message);
        QCOMPARE(program.logMessages(log).value_or(QStringList{}), messages);
        if (messages.isEmpty())
            QVERIFY(!QFile::exists(program.filePath(log)));
    }
    if (started.isEmpty()) {
        if (sequence.contains(QLatin1String("{script}")))
            QVERIFY(!script.waitForMarker(300));
        return;
    }
    // Started detached: the program may have ended before the script wrote its marker.
    QVERIFY(script.waitForMarker());
    const auto record = script.record();
    QVERIFY(record);
    QCOMPARE(record->arguments, started);
    QCOMPARE(record->standardOutput == QLatin1String("/dev/null"), sequence.contains(QLatin1String(" /s")));
}

void TestUnattended::overlappingRunsKeepLinesWhole_data()
{
    QTest::addColumn<bool>("opens");   // the port starts answering while the runs wait
    QTest::newRow("success lines at once") << true;
    QTest::newRow("error lines at once") << false;
}

// Runs that wait on the same port with the same timeout write their result
// lines in the same instant, each of another length (the port typed with
// leading zeros). Lines may be lost to another run's start-of-run delete,
// but every line there is is whole.
void TestUnattended::overlappingRunsKeepLinesWhole()
{
    QFETCH(bool, opens);
    constexpr int kRuns = 4;
    for (int round = 0; round < 3; ++round) {
        LatePort port;
        ProgramFolder program;
        std::vector<std::unique_ptr<QProcess>> runs;
        QStringList lines;
        for (int i = 0; i < kRuns; ++i) {
            const QString typed = QString(i, QLatin1Char('0')) + QString::number(port.port());
            runs.push_back(program.launch({QStringLiteral("127.0.0.1,%1,%2").arg(typed).arg(opens ? 5 : 1)}));
            lines << QStringLiteral("Port %1 on device 127.0.0.1 is ").arg(typed)
                    + (opens ? QStringLiteral("available.") : QStringLiteral("un-available."));
        }
        if (opens) {
            QTest::qWait(300);
            port.open();
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

void TestUnattended::plantedLogsWhileWaiting_data()
{
    QTest::addColumn<bool>("opens");
    QTest::addColumn<QString>("linked");   // the log planted as a link; the other becomes a FIFO
    QTest::newRow("available: link as success.log, FIFO as error.log") << true << kSuccess;
    QTest::newRow("un-available: link as error.log, FIFO as success.log") << false << kError;
    QTest::newRow("un-available: FIFO as error.log, link as success.log") << false << kSuccess;
}

// A link or FIFO planted in the shared folder after the start-of-run delete,
// while the run waits: the link's target is never written and the run ends on time.
void TestUnattended::plantedLogsWhileWaiting()
{
    QFETCH(bool, opens);
    QFETCH(QString, linked);
    const QString fifo = linked == kSuccess ? kError : kSuccess;
    constexpr int kTimeout = 2;
    LatePort port;
    ProgramFolder program;
    QTemporaryDir elsewhere;
    const QString target = elsewhere.filePath(QStringLiteral("root-only"));
    writeFile(target, "secret\n");
    // Links from an earlier attempt are removed at the start, their target kept.
    QVERIFY(QFile::link(target, program.filePath(kSuccess)) && QFile::link(target, program.filePath(kError)));

    QElapsedTimer clock;
    clock.start();
    const auto run = program.launch({QStringLiteral("127.0.0.1,%1,%2").arg(port.port()).arg(kTimeout)});
    QVERIFY(QTest::qWaitFor([&] {
        return !QFile::exists(program.filePath(kSuccess)) && !QFile::exists(program.filePath(kError));
    }, 5000));
    QVERIFY(QFile::link(target, program.filePath(linked)));
    QVERIFY(::mkfifo(QFile::encodeName(program.filePath(fifo)).constData(), 0666) == 0);
    if (opens)
        port.open();

    QVERIFY(run->waitForFinished((kTimeout + 5) * 1000));
    // Start-up, then the timeout, then well under a second to end.
    QVERIFY2(clock.elapsed() < (kTimeout + 1) * 1000, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(run->exitCode(), 0);
    QCOMPARE(readFile(target), QByteArray("secret\n"));
    const QString written = opens ? kSuccess : kError;
    if (written == linked)
        QCOMPARE(QFileInfo(program.filePath(written)).isSymLink(), !opens);   // success.log is replaced, never followed
    if (opens)
        QCOMPARE(program.logMessages(kSuccess),
                 QStringList{QStringLiteral("Port %1 on device 127.0.0.1 is available.").arg(port.port())});
}

QTEST_GUILESS_MAIN(TestUnattended)
#include "tst_unattended.moc"
