// The result-log writer: replace or append, one line a message, and nothing
// planted in the log's place (link, FIFO, folder, hard link) ever written.
#include "ProgramFolder.h"
#include "actions/ResultLogs.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

class TestResultLogs : public QObject
{
    Q_OBJECT
private slots:
    void writeLine_data();
    void writeLine();
};

void TestResultLogs::writeLine_data()
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
    QTest::newRow("link as error log: not followed") << "link" << true << three << none;
    QTest::newRow("link as success log: replaced, not followed") << "link" << false << three << QStringList{"mail failed"};
    QTest::newRow("FIFO with a reader as error log") << "fifo" << true << three << none;
    QTest::newRow("FIFO as success log: replaced") << "fifo" << false << three << QStringList{"mail failed"};
    QTest::newRow("hard link as error log") << "hard link" << true << three << none;
    QTest::newRow("folder as error log") << "folder" << true << three << none;
    QTest::newRow("folder as success log") << "folder" << false << three << none;
}

void TestResultLogs::writeLine()
{
    QFETCH(QString, planted);
    QFETCH(bool, append);
    QFETCH(QStringList, written);
    QFETCH(QStringList, kept);

    QTemporaryDir folder;
    QTemporaryDir elsewhere;
    const QString path = folder.filePath(ResultLog::kErrorLog);
    const QByteArray native = QFile::encodeName(path);
    const QString target = elsewhere.filePath(QStringLiteral("root-only"));
    QFile targetFile(target);
    QVERIFY(targetFile.open(QIODevice::WriteOnly) && targetFile.write("secret\n") == 7);
    targetFile.close();
    int reader = -1;
    if (planted == QLatin1String("link"))
        QVERIFY(QFile::link(target, path));
    else if (planted == QLatin1String("hard link"))
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
    QFile check(target);
    QVERIFY(check.open(QIODevice::ReadOnly));
    QCOMPARE(check.readAll(), QByteArray("secret\n"));
    struct stat after {};
    QCOMPARE(::lstat(native.constData(), &after), 0);
    if (kept.isEmpty())
        QCOMPARE(after.st_mode & S_IFMT, before.st_mode & S_IFMT);   // still what was planted
    else
        QCOMPARE(readLogMessages(path), kept);
    // No new file is left behind beside the log.
    QCOMPARE(QDir(folder.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot),
             QStringList{ResultLog::kErrorLog});
}

QTEST_GUILESS_MAIN(TestResultLogs)
#include "tst_resultlogs.moc"
