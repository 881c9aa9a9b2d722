// The TCP probe against real loopback ends: open, refused and silent ports.
#include "LoopbackPeers.h"
#include "probes/TcpProbe.h"

#include <QTest>
#include <stdexcept>

namespace {

const QString kLoopback = QStringLiteral("127.0.0.1");

TimeoutBarReader bar(int seconds)
{
    return [seconds] { return seconds; };
}

} // namespace

class TestTcpProbe : public QObject
{
    Q_OBJECT
private slots:
    void outcome_data();
    void outcome();
    void earlierConnection();
    void failureWhileWaitingContinuesOnce();
};

void TestTcpProbe::outcome_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<int>("timeout");
    QTest::addColumn<bool>("answered");
    QTest::addColumn<int>("state");

    QTest::newRow("open port") << "open" << 5 << true << 1;
    QTest::newRow("refused port") << "refused" << 5 << false << -1;
    QTest::newRow("silent port, time limit 1 s") << "blackholed" << 1 << false << -1;
    // Only the command line can give these; the attempt must end all the same.
    QTest::newRow("silent port, time limit below 0") << "blackholed" << -1 << false << -1;
    QTest::newRow("open port, time limit 0") << "open" << 0 << true << 1;
}

void TestTcpProbe::outcome()
{
    QFETCH(QString, kind);
    QFETCH(int, timeout);
    QFETCH(bool, answered);
    QFETCH(int, state);

    LoopbackPort port = kind == QLatin1String("open") ? LoopbackPort::open()
        : kind == QLatin1String("refused")             ? LoopbackPort::refused()
                                                       : LoopbackPort::blackholed();
    TcpProbe probe(bar(15));
    QCOMPARE(probe.Check_Socket(kLoopback, port.port(), static_cast<qint16>(timeout)), answered);
    QCOMPARE(int(probe.intSocketState()), state);
    QVERIFY(!probe.Socket1().IsConnected());
    if (answered) {
        // The connection it made is closed again, and the next probe answers the same.
        const int server = port.accept(5000);
        QVERIFY(server >= 0);
        QVERIFY(peerClosed(server, 5000));
        QVERIFY(probe.Check_Socket(kLoopback, port.port(), 5));
    }
}

void TestTcpProbe::earlierConnection()
{
    LoopbackPort first = LoopbackPort::open();
    const LoopbackPort second = LoopbackPort::refused();
    TcpProbe probe(bar(15));
    probe.Socket1().SetHostName(kLoopback);
    probe.Socket1().SetRemotePort(first.port());
    probe.Socket1().SetTimeout(5000);
    QCOMPARE(probe.Socket1().Connect(), 0);
    const int server = first.accept(5000);
    QVERIFY(server >= 0);

    // A blank host touches nothing, not even the open connection.
    QVERIFY(!probe.Check_Socket(QString(), first.port(), 5));
    QVERIFY(!probe.Check_Socket(QStringLiteral("   "), first.port(), 5));
    QVERIFY(probe.Socket1().IsConnected());
    QVERIFY(!peerClosed(server, 200));
    QCOMPARE(int(probe.intSocketState()), 0);

    // A probe closes it first.
    QVERIFY(!probe.Check_Socket(kLoopback, second.port(), 5));
    QVERIFY(peerClosed(server, 5000));
}

void TestTcpProbe::failureWhileWaitingContinuesOnce()
{
    const LoopbackPort port = LoopbackPort::open();

    // The timeout bar fails once, in the first closing wait: the probe goes on
    // with its result test and closing steps instead of passing the failure on.
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
