// The result-log writer: replace or append, line layout, silent failures.
#include "actions/ResultLogs.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

namespace {

QByteArray contents(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

const QRegularExpression kLine(
    QStringLiteral("^(\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d)\\t([^\\r\\n]*)\\r\\n$"));

} // namespace

class TestResultLogs : public QObject
{
    Q_OBJECT
private slots:
    void replaceKeepsOnlyTheLatestLine();
    void appendKeepsEveryLineInOrder();
    void lineLayout_data();
    void lineLayout();
    void unwritablePathIsSilent();
    void timeStampIsLocalDateBlankTime();
};

void TestResultLogs::replaceKeepsOnlyTheLatestLine()
{
    QTemporaryDir folder;
    const QString path = folder.filePath(ResultLog::kSuccessLog);
    ResultLog::writeLine(path, QStringLiteral("first"), false);
    ResultLog::writeLine(path, QStringLiteral("second"), false);
    const auto match = kLine.match(QString::fromUtf8(contents(path)));
    QVERIFY(match.hasMatch());
    QCOMPARE(match.captured(2), QStringLiteral("second"));
}

void TestResultLogs::appendKeepsEveryLineInOrder()
{
    QTemporaryDir folder;
    const QString path = folder.filePath(ResultLog::kErrorLog);
    const QStringList messages{QStringLiteral("check failed"), QStringLiteral("command failed"),
                               QStringLiteral("mail failed")};
    for (const QString &message : messages)
        ResultLog::writeLine(path, message, true);
    const QList<QByteArray> lines = contents(path).split('\n');
    QCOMPARE(lines.size(), 4);
    QVERIFY(lines.last().isEmpty());
    for (int i = 0; i < 3; ++i) {
        const auto match = kLine.match(QString::fromUtf8(lines.at(i) + '\n'));
        QVERIFY2(match.hasMatch(), lines.at(i).constData());
        QCOMPARE(match.captured(2), messages.at(i));
    }
}

void TestResultLogs::lineLayout_data()
{
    QTest::addColumn<QString>("message");
    QTest::newRow("empty message: time stamp and tab") << QString();
    QTest::newRow("plain") << QStringLiteral("Port 23 on device fileserver1 is available.");
    QTest::newRow("non-ASCII device name") << QStringLiteral("Port 21 on device Ästhetik-Drucker is un-available.");
    QTest::newRow("tab inside") << QStringLiteral("a\tb");
}

void TestResultLogs::lineLayout()
{
    QFETCH(QString, message);
    QTemporaryDir folder;
    const QString path = folder.filePath(ResultLog::kErrorLog);
    ResultLog::writeLine(path, message, true);
    const QString written = QString::fromUtf8(contents(path));
    const QString stamp = written.section(QLatin1Char('\t'), 0, 0);
    QVERIFY(QRegularExpression(QStringLiteral("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d$")).match(stamp).hasMatch());
    QCOMPARE(written, stamp + QLatin1Char('\t') + message + QStringLiteral("\r\n"));
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

void TestResultLogs::timeStampIsLocalDateBlankTime()
{
    const QDateTime when(QDate(2027, 3, 4), QTime(5, 6, 7));
    QCOMPARE(ResultLog::timeStamp(when), QStringLiteral("2027-03-04 05:06:07"));
}

QTEST_GUILESS_MAIN(TestResultLogs)
#include "tst_resultlogs.moc"
