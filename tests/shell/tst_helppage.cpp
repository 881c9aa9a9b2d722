// The help page: its examples are calling sequences the program accepts as
// the page explains them, and the build puts the page beside the program.
#include "entry/CallingSequence.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTest>

namespace {

QByteArray pageSource()
{
    QFile page(QStringLiteral(OSTREL_HELP_PAGE));
    return page.open(QIODevice::ReadOnly) ? page.readAll() : QByteArray();
}

// The argument text of every example line in the page's <pre> blocks
// ("ostrel ..." or a cron line ending in ".../ostrel ..."), the template excluded.
QStringList exampleSequences()
{
    const QString page = QString::fromUtf8(pageSource());
    static const QRegularExpression block(QStringLiteral("<pre>(.*?)</pre>"),
                                          QRegularExpression::DotMatchesEverythingOption);
    static const QRegularExpression call(QStringLiteral("(?:^|/)ostrel (.*)$"));
    QStringList sequences;
    for (auto blocks = block.globalMatch(page); blocks.hasNext();) {
        for (const QString &line : blocks.next().captured(1).split(QLatin1Char('\n'))) {
            const auto match = call.match(line);
            if (match.hasMatch() && !match.captured(1).startsWith(QLatin1String("DeviceName")))
                sequences << match.captured(1);
        }
    }
    return sequences;
}

QString summary(const CheckRequest &request)
{
    return QStringList{request.strDeviceName, request.strAddress, request.strPort, request.strTimeout,
                       request.bolPass ? QStringLiteral("PASS") : QStringLiteral("FAIL"), request.strCommand,
                       request.strArgument, request.strMailServer, request.strRecipients}
        .join(QLatin1Char('|'));
}

} // namespace

class TestHelpPage : public QObject
{
    Q_OBJECT
private slots:
    void examplesReadAsTheyAreExplained_data();
    void examplesReadAsTheyAreExplained();
    void pageLiesBesideTheBuiltProgram();
};

void TestHelpPage::examplesReadAsTheyAreExplained_data()
{
    QTest::addColumn<QString>("sequence");
    QTest::addColumn<QString>("read");

    // In the page's order: what each example's text says it does.
    const QStringList expected{
        "10.0.0.5|10.0.0.5|22|5|FAIL||||",
        "fileserver1|192.0.2.1|23|15|FAIL|/usr/bin/logger|fileserver1-telnet-down||",
        "fileserver1|192.0.2.1|23|15|PASS|||mail.example.com|admin@example.com,oncall@example.com",
        "10.0.0.5|10.0.0.5|443|10|FAIL|/usr/local/bin/restart-web.sh /s|||",
    };
    const QStringList sequences = exampleSequences();
    QCOMPARE(sequences.size(), expected.size());
    for (qsizetype i = 0; i < sequences.size(); ++i)
        QTest::addRow("%s", qPrintable(sequences.at(i))) << sequences.at(i) << expected.at(i);
}

void TestHelpPage::examplesReadAsTheyAreExplained()
{
    QFETCH(QString, sequence);
    QFETCH(QString, read);

    const auto request = CallingSequence::read(sequence, [](const QString &) { return QStringLiteral("192.0.2.1"); });
    QVERIFY(request);
    QCOMPARE(summary(*request), read);
}

void TestHelpPage::pageLiesBesideTheBuiltProgram()
{
    const QByteArray source = pageSource();
    QVERIFY(source.contains("<title>Ostrel Help</title>"));
    QFile built(QDir(QStringLiteral(OSTREL_PROGRAM_DIR)).filePath(QStringLiteral("ostrel.htm")));
    QVERIFY(built.open(QIODevice::ReadOnly));
    QCOMPARE(built.readAll(), source);
}

QTEST_MAIN(TestHelpPage)
#include "tst_helppage.moc"
