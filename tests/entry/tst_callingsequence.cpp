// Reading the calling sequence: what is accepted, what is rejected, and the
// values a check gets from it.
#include "entry/CallingSequence.h"

#include <QTest>

class TestCallingSequence : public QObject
{
    Q_OBJECT
private slots:
    void read_data();
    void read();
};

// The expected request as one text: device|address|port|timeout|PASS/FAIL|command|argument|server|recipients.
static QString describe(const CheckRequest &request)
{
    return QStringList{request.strDeviceName, request.strAddress, request.strPort, request.strTimeout,
                       request.bolPass ? QStringLiteral("PASS") : QStringLiteral("FAIL"),
                       request.strCommand, request.strArgument, request.strMailServer,
                       request.strRecipients}
        .join(QLatin1Char('|'));
}

// A name ending in ".invalid" does not resolve.
static QString lookUp(const QString &name)
{
    return name.endsWith(QLatin1String(".invalid")) ? QString() : QStringLiteral("addr(") + name + QLatin1Char(')');
}

void TestCallingSequence::read_data()
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

void TestCallingSequence::read()
{
    QFETCH(QString, text);
    QFETCH(QString, expected);
    const auto request = CallingSequence::read(text, lookUp);
    QCOMPARE(request.has_value(), !expected.isEmpty());
    if (request)
        QCOMPARE(describe(*request), expected);
}

QTEST_GUILESS_MAIN(TestCallingSequence)
#include "tst_callingsequence.moc"
