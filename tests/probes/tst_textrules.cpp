// Blanks, numbers, ports and dotted addresses, as users' texts are read.
#include "probes/TextRules.h"
#include "probes/modIP32.h"

#include <QTest>
#include <climits>

namespace {
constexpr int kNone = INT_MIN;   // the text gives no number
}

class TestTextRules : public QObject
{
    Q_OBJECT
private slots:
    void numbers_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("whole16");
        QTest::addColumn<int>("port");

        QTest::newRow("blanks around") << "  15 " << 15 << 15;
        QTest::newRow("lowest") << "-32768" << -32768 << kNone;
        QTest::newRow("highest") << "32767" << 32767 << 32767;
        QTest::newRow("one above: still a port") << "32768" << kNone << 32768;
        QTest::newRow("highest port") << "65535" << kNone << 65535;
        QTest::newRow("above 16 bits") << "65536" << kNone << kNone;
        QTest::newRow("exponent, half to even") << "25E-1" << 2 << 2;
        QTest::newRow("leading point rounds") << ".6" << 1 << 1;
        QTest::newRow("trailing point") << "5." << 5 << 5;
        QTest::newRow("huge exponent") << "1e400" << kNone << kNone;
        QTest::newRow("empty") << "" << kNone << kNone;
        QTest::newRow("digits then letters") << "23a" << kNone << kNone;
        QTest::newRow("thousands separator") << "1,000" << kNone << kNone;
        QTest::newRow("blank inside") << "1 2" << kNone << kNone;
        QTest::newRow("tab is not a blank") << "\t5" << kNone << kNone;
    }

    void numbers()
    {
        QFETCH(QString, text);
        QFETCH(int, whole16);
        QFETCH(int, port);
        const auto number = TextRules::toWholeNumber16(text);
        QCOMPARE(number ? int(*number) : kNone, whole16);
        const auto portNumber = TextRules::toPortNumber(text);
        QCOMPARE(portNumber ? int(*portNumber) : kNone, port);
    }

    void blanks()
    {
        QCOMPARE(TextRules::trimSpaces(QStringLiteral("  a b  ")), QStringLiteral("a b"));
        QCOMPARE(TextRules::trimSpaces(QStringLiteral("\ta\n")), QStringLiteral("\ta\n"));
        QVERIFY(TextRules::isBlank(QStringLiteral("    ")) && TextRules::isBlank(QString()));
        QVERIFY(!TextRules::isBlank(QStringLiteral(" \t ")));
    }

    void dottedAddress_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("dotted");
        QTest::addColumn<quint32>("packed");   // first part in the lowest byte; 0: none

        QTest::newRow("address") << "192.168.1.10" << true << 0x0A01A8C0u;
        QTest::newRow("three parts") << "192.168.1" << false << 0u;
        QTest::newRow("empty") << "" << false << 0u;
        QTest::newRow("no range check: lowest 8 bits") << "999.1.1.1" << true << 0x010101E7u;
        QTest::newRow("five parts, rest reads as 4.5") << "1.2.3.4.5" << true << 0u;
        QTest::newRow("six parts") << "1.2.3.4.5.6" << false << 0u;
        QTest::newRow("blanks around parts") << " 1 . 2 .3. 4 " << true << 0x04030201u;
        QTest::newRow("a dot at the first character is skipped") << ".1.2.3.4" << true << 0u;
        QTest::newRow("line feed after the address") << "10.0.0.1\n" << false << 0u;
    }

    void dottedAddress()
    {
        QFETCH(QString, text);
        QFETCH(bool, dotted);
        QFETCH(quint32, packed);
        QCOMPARE(modIP32::Is_IPAddress(text), dotted);
        QCOMPARE(modIP32::IP_ToLong(text), packed);
    }

};

QTEST_GUILESS_MAIN(TestTextRules)
#include "tst_textrules.moc"
