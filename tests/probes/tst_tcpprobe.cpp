// The TCP probe against real loopback ends, IPv4 and IPv6: open, refused and
// silent ports, addresses typed and names from a hosts file of our own.
#include "LoopbackPeers.h"
#include "LoopbackResolver.h"
#include "probes/FallbackBound.h"
#include "probes/TcpProbe.h"

#include <QElapsedTimer>
#include <QTest>

class TestTcpProbe : public QObject
{
    Q_OBJECT
    QString m_resolverWhy;
    bool m_resolverConfined = false;

private slots:
    void initTestCase()
    {
        // Any name not in our hosts file goes to a name server that never answers.
        const QByteArray server = LoopbackResolver::silentNameServer();
        const QByteArray hosts = "::1 v6only.test\n127.0.0.1 both.test\n::1 both.test";
        m_resolverConfined = !server.isEmpty() && LoopbackResolver::confine(&m_resolverWhy, {server, hosts, {}});
    }

    void outcome_data()
    {
        QTest::addColumn<QString>("host");
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("listener");
        QTest::addColumn<int>("timeout");
        QTest::addColumn<bool>("answered");

        const QString v4 = QStringLiteral("127.0.0.1");
        const QString v6 = QStringLiteral("::1");
        QTest::newRow("open port") << v4 << "open" << v4 << 5 << true;
        QTest::newRow("refused port") << v4 << "refused" << v4 << 5 << false;
        // Only the command line gives a limit of 0 or below: the fallback bound holds.
        QTest::newRow("silent port, time limit below 0") << v4 << "blackholed" << v4 << -1 << false;
        QTest::newRow("open port, time limit 0") << v4 << "open" << v4 << 0 << true;
        QTest::newRow("blank host is no local host") << "   " << "open" << v4 << 5 << false;
        QTest::newRow("leading zeros read as decimal") << "127.000.000.001" << "open" << v4 << 5 << true;
        QTest::newRow("IPv6 open port") << v6 << "open" << v6 << 5 << true;
        QTest::newRow("IPv6 in brackets, open port") << "[::1]" << "open" << v6 << 5 << true;
        QTest::newRow("name with only an IPv6 address") << "v6only.test" << "open" << v6 << 5 << true;
        // Nothing listens on ::1 at that port: only IPv4 reaches it.
        QTest::newRow("name with both: IPv4 first") << "both.test" << "open" << v4 << 5 << true;
        // Dotted, but no address: never handed to the resolver, which would hang.
        QTest::newRow("999.1.1.1") << "999.1.1.1" << "open" << v4 << 5 << false;
    }

    void outcome()
    {
        QFETCH(QString, host);
        QFETCH(QString, kind);
        QFETCH(QString, listener);
        QFETCH(int, timeout);
        QFETCH(bool, answered);
        if (host.contains(QLatin1String(".test")) && !m_resolverConfined)
            QSKIP(qPrintable(m_resolverWhy));

        LoopbackPort port = kind == QLatin1String("open") ? LoopbackPort::open(listener)
            : kind == QLatin1String("refused")             ? LoopbackPort::refused(listener)
                                                           : LoopbackPort::blackholed(listener);
        TcpProbe probe([] { return 15; });
        const FallbackBound::Override fallback(500);
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(probe.Check_Socket(host, port.port(), static_cast<qint16>(timeout)), answered);
        const qint64 limitMs = kind == QLatin1String("blackholed") ? 500 : 0;
        QVERIFY2(clock.elapsed() >= limitMs - 50 && clock.elapsed() < limitMs + 300,
                 qPrintable(QString::number(clock.elapsed())));
        if (answered) {
            // The connection it made is closed again, and the next probe answers the same.
            const int server = port.accept(5000);
            QVERIFY(server >= 0);
            QVERIFY(peerClosed(server, 5000));
            QVERIFY(probe.Check_Socket(host, port.port(), 5));
        }
    }
};

QTEST_GUILESS_MAIN(TestTcpProbe)
#include "tst_tcpprobe.moc"
