// The TCP probe against real loopback ends, IPv4 and IPv6: open, refused and
// silent ports, addresses typed and names from a hosts file of our own.
#include "LoopbackPeers.h"
#include "LoopbackResolver.h"
#include "probes/FallbackBound.h"
#include "probes/TcpProbe.h"

#include <QElapsedTimer>
#include <QTest>
#include <stdexcept>

namespace {
const QString kLoopback = QStringLiteral("127.0.0.1");
int fifteen() { return 15; }
} // namespace

class TestTcpProbe : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void outcome_data();
    void outcome();
    void blankHostAndEarlierConnection();
    void failureWhileWaitingContinuesOnce();

private:
    QString m_resolverWhy;
    bool m_resolverConfined = false;
};

void TestTcpProbe::initTestCase()
{
    // Any name not in our hosts file goes to a name server that never answers.
    const QByteArray server = LoopbackResolver::silentNameServer();
    const QByteArray hosts = "::1 v6only.test\n127.0.0.1 both.test\n::1 both.test";
    m_resolverConfined = !server.isEmpty() && LoopbackResolver::confine(&m_resolverWhy, {server, hosts, {}});
}

void TestTcpProbe::outcome_data()
{
    QTest::addColumn<QString>("host");
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("listener");
    QTest::addColumn<int>("timeout");
    QTest::addColumn<bool>("answered");

    const QString v4 = kLoopback;
    const QString v6 = QStringLiteral("::1");
    QTest::newRow("open port") << v4 << "open" << v4 << 5 << true;
    QTest::newRow("refused port") << v4 << "refused" << v4 << 5 << false;
    // Only the command line gives a limit of 0 or below: the fallback bound holds.
    QTest::newRow("silent port, time limit below 0") << v4 << "blackholed" << v4 << -1 << false;
    QTest::newRow("open port, time limit 0") << v4 << "open" << v4 << 0 << true;
    QTest::newRow("leading zeros read as decimal") << "127.000.000.001" << "open" << v4 << 5 << true;
    QTest::newRow("IPv6 open port") << v6 << "open" << v6 << 5 << true;
    QTest::newRow("IPv6 in brackets, open port") << "[::1]" << "open" << v6 << 5 << true;
    QTest::newRow("name with only an IPv6 address") << "v6only.test" << "open" << v6 << 5 << true;
    // Nothing listens on ::1 at that port: only IPv4 reaches it.
    QTest::newRow("name with both: IPv4 first") << "both.test" << "open" << v4 << 5 << true;
    // Dotted, but no address: never handed to the resolver, which would hang.
    QTest::newRow("999.1.1.1") << "999.1.1.1" << "open" << v4 << 5 << false;
}

void TestTcpProbe::outcome()
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
    TcpProbe probe(fifteen);
    const FallbackBound::Override fallback(500);
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(probe.Check_Socket(host, port.port(), static_cast<qint16>(timeout)), answered);
    QCOMPARE(int(probe.intSocketState()), answered ? 1 : -1);
    QVERIFY(!probe.Socket1().IsConnected());
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

void TestTcpProbe::blankHostAndEarlierConnection()
{
    LoopbackPort first = LoopbackPort::open();
    const LoopbackPort second = LoopbackPort::refused();
    TcpProbe probe(fifteen);
    probe.Socket1().SetHostName(kLoopback);
    probe.Socket1().SetRemotePort(first.port());
    probe.Socket1().SetTimeout(5000);
    QCOMPARE(probe.Socket1().Connect(), 0);
    const int server = first.accept(5000);
    QVERIFY(server >= 0);

    // A blank host touches nothing, not even the open connection.
    QVERIFY(!probe.Check_Socket(QStringLiteral("   "), first.port(), 5));
    QVERIFY(!peerClosed(server, 200));
    QCOMPARE(int(probe.intSocketState()), 0);
    // A probe closes it first.
    QVERIFY(!probe.Check_Socket(kLoopback, second.port(), 5));
    QVERIFY(peerClosed(server, 5000));
}

void TestTcpProbe::failureWhileWaitingContinuesOnce()
{
    const LoopbackPort port = LoopbackPort::open();
    // The timeout bar fails in the first closing wait: the probe goes on with
    // its result test and closing steps instead of passing the failure on.
    int reads = 0;
    TcpProbe failsOnce([&reads]() -> int {
        if (reads++ == 0)
            throw std::runtime_error("timeout bar unreadable");
        return 15;
    });
    QVERIFY(!failsOnce.Check_Socket(kLoopback, port.port(), 5));
    QVERIFY(reads >= 2);

    // A failure in the closing steps after that one reaches the caller.
    TcpProbe alwaysFails([]() -> int { throw std::runtime_error("timeout bar unreadable"); });
    QVERIFY_THROWS_EXCEPTION(std::runtime_error, alwaysFails.Check_Socket(kLoopback, port.port(), 5));
}

QTEST_GUILESS_MAIN(TestTcpProbe)
#include "tst_tcpprobe.moc"
