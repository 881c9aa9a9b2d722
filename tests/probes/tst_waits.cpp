// Every wait of a check runs the event loop: timers fire throughout, the CPU
// sleeps, and abandoning the waits ends the check at once.
#include "LoopbackPeers.h"
#include "LoopbackResolver.h"
#include "probes/EventWait.h"
#include "probes/FtpProbe.h"
#include "probes/HostLookup.h"
#include "probes/TcpProbe.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QTest>
#include <QTimer>
#include <cstring>
#include <functional>
#include <memory>
#include <sys/resource.h>

namespace {

qint64 cpuMs()
{
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000
        + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1000;
}

// A check with a time limit of 2 s that gets no answer, with its peer.
struct SilentCheck {
    std::shared_ptr<void> peer;
    std::function<bool()> run;
};

SilentCheck silentCheck(const QString &kind)
{
    const auto bar = [] { return 15; };
    if (kind == QLatin1String("tcp")) {
        auto port = std::make_shared<LoopbackPort>(LoopbackPort::blackholed());
        auto probe = std::make_shared<TcpProbe>(bar);
        return {port, [probe, port] { return probe->Check_Socket(QStringLiteral("127.0.0.1"), port->port(), 2); }};
    }
    if (kind == QLatin1String("ftp")) {
        // Takes the connection and never greets.
        const QString address = privateLoopbackAddress();
        auto port = std::make_shared<LoopbackPort>(LoopbackPort::open(address, 21));
        auto probe = std::make_shared<FtpProbe>(bar);
        return {port, [probe, address] {
                    return probe->Check_FTP(address, QStringLiteral("anonymous"), QStringLiteral("guestpass"), 2);
                }};
    }
    return {nullptr,
            [] { return !HostLookup::resolve(QStringLiteral("silent.test"), QDeadlineTimer(2000)).isEmpty(); }};
}

} // namespace

class TestWaits : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanup() { EventWait::resetAbandoned(); }
    void silentPeer_data();
    void silentPeer();
    void pendingLookUpDoesNotHoldTheExit();

private:
    QString m_resolverWhy;
    bool m_resolverConfined = false;
};

void TestWaits::initTestCase()
{
    const QByteArray server = LoopbackResolver::silentNameServer();
    m_resolverConfined = !server.isEmpty() && LoopbackResolver::confine(&m_resolverWhy, {server, {}, {}});
}

void TestWaits::silentPeer_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("TCP connect, blackholed port") << "tcp";
    QTest::newRow("FTP greeting, silent server") << "ftp";
    QTest::newRow("name look-up, silent resolver") << "lookup";
}

void TestWaits::silentPeer()
{
    QFETCH(QString, kind);
    if (kind == QLatin1String("lookup") && !m_resolverConfined)
        QSKIP(qPrintable(m_resolverWhy));
    const SilentCheck check = silentCheck(kind);

    // Waited out: the event loop runs throughout and the CPU sleeps.
    int ticks = 0;
    QTimer tick;
    connect(&tick, &QTimer::timeout, [&ticks] { ++ticks; });
    tick.start(50);
    QElapsedTimer clock;
    clock.start();
    const qint64 cpuBefore = cpuMs();
    QVERIFY(!check.run());
    const qint64 elapsed = clock.elapsed();
    const qint64 cpu = cpuMs() - cpuBefore;
    QVERIFY2(elapsed >= 1900 && elapsed < 2300, qPrintable(QString::number(elapsed)));
    QVERIFY2(ticks >= 20, qPrintable(QString::number(ticks)));
    QVERIFY2(cpu < elapsed / 10, qPrintable(QStringLiteral("%1 ms CPU").arg(cpu)));

    // Abandoned at 0.5 s: the check ends at once, and so does every later one.
    QTimer::singleShot(500, [] { EventWait::abandonAll(); });
    clock.restart();
    QVERIFY(!check.run());
    QVERIFY2(clock.elapsed() < 1000, qPrintable(QString::number(clock.elapsed())));
    clock.restart();
    QVERIFY(!check.run());
    QVERIFY2(clock.elapsed() < 100, qPrintable(QString::number(clock.elapsed())));
}

void TestWaits::pendingLookUpDoesNotHoldTheExit()
{
    if (!m_resolverConfined)
        QSKIP(qPrintable(m_resolverWhy));
    // The child gives up on a look-up after 200 ms and ends while the
    // resolver still waits for its answer.
    QProcess child;
    QElapsedTimer clock;
    clock.start();
    child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--give-up-on-look-up")});
    QVERIFY(child.waitForFinished(10000));
    QCOMPARE(child.exitCode(), 0);
    QVERIFY2(clock.elapsed() < 200 + 300 + 300, qPrintable(QString::number(clock.elapsed())));
}

int main(int argc, char **argv)
{
    QCoreApplication application(argc, argv);
    if (argc == 2 && std::strcmp(argv[1], "--give-up-on-look-up") == 0)
        return HostLookup::resolve(QStringLiteral("silent.test"), QDeadlineTimer(200)).isEmpty() ? 0 : 1;
    TestWaits test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}
#include "tst_waits.moc"
