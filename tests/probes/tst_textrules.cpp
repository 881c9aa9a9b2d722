// Blanks, numbers and the dotted-address test, as users' texts are read.
#include "probes/TextRules.h"
#include "probes/modIP32.h"

#include <QTest>

class TestTextRules : public QObject
{
    Q_OBJECT
private slots:
    void wholeNumber16_data();
    void wholeNumber16();
    void portNumber_data();
    void portNumber();
    void trimSpaces();
    void isIPAddress_data();
    void isIPAddress();
};

void TestTextRules::wholeNumber16_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("numeric");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<int>("value");

    QTest::newRow("blanks around") << "  15 " << true << true << 15;
    QTest::newRow("lowest") << "-32768" << true << true << -32768;
    QTest::newRow("highest") << "32767" << true << true << 32767;
    QTest::newRow("one above") << "32768" << true << false << 0;
    QTest::newRow("half rounds to even, down") << "2.5" << true << true << 2;
    QTest::newRow("half rounds to even, up") << "3.5" << true << true << 4;
    QTest::newRow("signed exponent") << "25E-1" << true << true << 2;
    QTest::newRow("leading point") << ".6" << true << true << 1;
    QTest::newRow("trailing point") << "5." << true << true << 5;
    QTest::newRow("huge exponent") << "1e400" << true << false << 0;
    QTest::newRow("empty") << "" << false << false << 0;
    QTest::newRow("digits then letters") << "23a" << false << false << 0;
    QTest::newRow("thousands separator") << "1,000" << false << false << 0;
    QTest::newRow("blank inside") << "1 2" << false << false << 0;
    QTest::newRow("tab is not a blank") << "\t5" << false << false << 0;
}

void TestTextRules::wholeNumber16()
{
    QFETCH(QString, text);
    QFETCH(bool, numeric);
    QFETCH(bool, valid);
    QFETCH(int, value);
    QCOMPARE(TextRules::isNumeric(text), numeric);
    const auto number = TextRules::toWholeNumber16(text);
    QCOMPARE(number.has_value(), valid);
    if (valid)
        QCOMPARE(int(*number), value);
}

void TestTextRules::portNumber_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("port");   // -1: no port

    QTest::newRow("zero") << "0" << 0;
    QTest::newRow("above 32767") << "49152" << 49152;
    QTest::newRow("highest") << "65535" << 65535;
    QTest::newRow("above 16 bits") << "65536" << -1;
    QTest::newRow("negative") << "-1" << -1;
}

void TestTextRules::portNumber()
{
    QFETCH(QString, text);
    QFETCH(int, port);
    const auto number = TextRules::toPortNumber(text);
    QCOMPARE(number ? int(*number) : -1, port);
}

void TestTextRules::trimSpaces()
{
    QCOMPARE(TextRules::trimSpaces(QStringLiteral("  a b  ")), QStringLiteral("a b"));
    QCOMPARE(TextRules::trimSpaces(QStringLiteral("\ta\n")), QStringLiteral("\ta\n"));
    QVERIFY(TextRules::isBlank(QStringLiteral("    ")));
    QVERIFY(TextRules::isBlank(QString()));
    QVERIFY(!TextRules::isBlank(QStringLiteral(" \t ")));
}

void TestTextRules::isIPAddress_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("dotted");

    QTest::newRow("address") << "192.168.1.10" << true;
    QTest::newRow("three parts") << "192.168.1" << false;
    QTest::newRow("host name") << "fileserver" << false;
    QTest::newRow("empty") << "" << false;
    QTest::newRow("no range check") << "999.1.1.1" << true;
    QTest::newRow("five parts, rest reads as 4.5") << "1.2.3.4.5" << true;
    QTest::newRow("six parts") << "1.2.3.4.5.6" << false;
    QTest::newRow("blanks around parts") << " 1 . 2 .3. 4 " << true;
    QTest::newRow("first dot at the first character is skipped") << ".1.2.3.4" << true;
    QTest::newRow("line feed after the address") << "10.0.0.1\n" << false;
}

void TestTextRules::isIPAddress()
{
    QFETCH(QString, text);
    QFETCH(bool, dotted);
    QCOMPARE(modIP32::Is_IPAddress(text), dotted);
}

QTEST_GUILESS_MAIN(TestTextRules)
#include "tst_textrules.moc"
