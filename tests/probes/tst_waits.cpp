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
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>
#include <cstring>
#include <sys/resource.h>

namespace {
qint64 cpuMs()
{
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000
        + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1000;
}
} // namespace

class TestWaits : public QObject
{
    Q_OBJECT
    QString m_resolverWhy;
    bool m_resolverConfined = false;

private slots:
    void initTestCase()
    {
        const QByteArray server = LoopbackResolver::silentNameServer();
        m_resolverConfined = !server.isEmpty() && LoopbackResolver::confine(&m_resolverWhy, {server, {}, {}});
    }
    void cleanup() { EventWait::resetAbandoned(); }

    void silentPeer_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("TCP connect, blackholed port") << "tcp";
        QTest::newRow("FTP greeting that goes on and on") << "ftp";
        QTest::newRow("name look-up, silent resolver") << "lookup";
    }

    // A check with a time limit of 1 s that gets no answer.
    void silentPeer()
    {
        QFETCH(QString, kind);
        if (kind == QLatin1String("lookup") && !m_resolverConfined)
            QSKIP(qPrintable(m_resolverWhy));
        const LoopbackPort tcpPort = LoopbackPort::blackholed();
        // The FTP server runs in the event loop the waits keep running: a line
        // of its greeting every 50 ms, for 3 s, so a limit not kept shows.
        const QString ftpAddress = privateLoopbackAddress();
        QTcpServer ftpServer;
        QVERIFY(ftpServer.listen(QHostAddress(ftpAddress), 21));
        const QDeadlineTimer talking(3000);
        QTimer talk;
        connect(&talk, &QTimer::timeout, [&] {
            for (QTcpSocket *client : ftpServer.findChildren<QTcpSocket *>())
                if (client->state() == QAbstractSocket::ConnectedState && !talking.hasExpired())
                    client->write("220-still greeting\r\n");
        });
        talk.start(50);
        TcpProbe tcp([] { return 15; });
        FtpProbe ftp([] { return 15; });
        const auto check = [&] {
            if (kind == QLatin1String("tcp"))
                return tcp.Check_Socket(QStringLiteral("127.0.0.1"), tcpPort.port(), 1);
            if (kind == QLatin1String("ftp"))
                return ftp.Check_FTP(ftpAddress, QStringLiteral("anonymous"), QStringLiteral("guestpass"), 1);
            return !HostLookup::resolve(QStringLiteral("silent.test"), QDeadlineTimer(1000)).isEmpty();
        };

        // Waited out: the event loop runs throughout and the CPU sleeps.
        int ticks = 0;
        QTimer tick;
        connect(&tick, &QTimer::timeout, [&ticks] { ++ticks; });
        tick.start(50);
        QElapsedTimer clock;
        clock.start();
        const qint64 cpuBefore = cpuMs();
        QVERIFY(!check());
        const qint64 elapsed = clock.elapsed();
        const qint64 cpu = cpuMs() - cpuBefore;
        QVERIFY2(elapsed >= 950 && elapsed < 1300, qPrintable(QString::number(elapsed)));
        QVERIFY2(ticks >= 10, qPrintable(QString::number(ticks)));
        QVERIFY2(cpu < elapsed / 10, qPrintable(QStringLiteral("%1 ms CPU").arg(cpu)));

        // Abandoned at 0.3 s: the check ends at once, and so does every later one.
        QTimer::singleShot(300, [] { EventWait::abandonAll(); });
        clock.restart();
        QVERIFY(!check());
        QVERIFY2(clock.elapsed() < 700, qPrintable(QString::number(clock.elapsed())));
        clock.restart();
        QVERIFY(!check());
        QVERIFY2(clock.elapsed() < 100, qPrintable(QString::number(clock.elapsed())));
    }

    void pendingLookUpDoesNotHoldTheExit()
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
};

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
