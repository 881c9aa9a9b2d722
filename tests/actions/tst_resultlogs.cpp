// The result-log writer: replace or append, line layout, silent failures.
#include "ProgramFolder.h"
#include "actions/ResultLogs.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

class TestResultLogs : public QObject
{
    Q_OBJECT
private slots:
    void replaceOrAppend_data();
    void replaceOrAppend();
    void unwritablePathIsSilent();
};

void TestResultLogs::replaceOrAppend_data()
{
    QTest::addColumn<bool>("append");
    QTest::addColumn<QStringList>("written");
    QTest::addColumn<QStringList>("kept");

    const QStringList three{QStringLiteral("check failed"), QStringLiteral("command failed"),
                            QStringLiteral("mail failed")};
    QTest::newRow("success log keeps only the latest line") << false << three << QStringList{three.last()};
    QTest::newRow("error log keeps every line in order") << true << three << three;
    QTest::newRow("empty message: time stamp and tab") << true << QStringList{QString()} << QStringList{QString()};
    QTest::newRow("non-ASCII text and a tab")
        << true << QStringList{QStringLiteral("Port 21 on device Ästhetik\tDrucker is un-available.")}
        << QStringList{QStringLiteral("Port 21 on device Ästhetik\tDrucker is un-available.")};
}

void TestResultLogs::replaceOrAppend()
{
    QFETCH(bool, append);
    QFETCH(QStringList, written);
    QFETCH(QStringList, kept);
    QTemporaryDir folder;
    const QString path = folder.filePath(ResultLog::kErrorLog);
    for (const QString &message : written)
        ResultLog::writeLine(path, message, append);
    QCOMPARE(readLogMessages(path), kept);
}

void TestResultLogs::unwritablePathIsSilent()
{
    QTemporaryDir folder;
    // A folder where the log should be: it cannot be opened as a file, whoever runs the test.
    const QString path = folder.filePath(ResultLog::kErrorLog);
    QVERIFY(QDir().mkdir(path));
    ResultLog::writeLine(path, QStringLiteral("lost"), true);
    ResultLog::writeLine(path, QStringLiteral("lost"), false);
    QVERIFY(QFileInfo(path).isDir());
    ResultLog::writeLine(folder.filePath(QStringLiteral("missing/error.log")), QStringLiteral("lost"), true);
    QVERIFY(!QFileInfo::exists(folder.filePath(QStringLiteral("missing"))));
}

QTEST_GUILESS_MAIN(TestResultLogs)
#include "tst_resultlogs.moc"
