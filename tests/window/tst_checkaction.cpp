// The check button run from the real window against real peers: loopback
// listeners, an FTP server on port 21 of a loopback address of its own, an
// SMTP server, and marker scripts for the command row.
#include "LoopbackPeers.h"
#include "LoopbackResolver.h"
#include "MarkerScript.h"
#include "ModalWatch.h"
#include "PythonPeer.h"
#include "SmtpServer.h"
#include "TemporarySettings.h"
#include "WindowTesting.h"
#include "probes/EventWait.h"
#include "probes/modIP32.h"
#include "shell/MessageBox.h"
#include "window/frmOstrel.h"

#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QTest>
#include <QTimer>
#include <unistd.h>

namespace {

// The window with its fields set the way a user would set them.
class CheckWindow : public frmOstrel
{
public:
    CheckWindow(const QString &device, const QString &port, int kind = 3)
    {
        show();
        type("txtDeviceName", device);
        type("txtPort", port);
        click(QStringLiteral("optCheck%1").arg(kind));
    }
    template <typename T = QWidget>
    T *find(const QString &name) { return WindowTesting::control<T>(*this, name); }
    void type(const char *field, const QString &text) { find<QLineEdit>(field)->setText(text); }
    void click(const QString &name) { find<QAbstractButton>(name)->click(); }
    void commandRow(bool onPass, const QString &command, const QString &argument = QString())
    {
        click("chkEXE");
        click(onPass ? "optEXE0" : "optEXE1");
        type("txtEXE", command);
        type("txtArg", argument);
    }
    void mailRow(bool onPass, const QString &server, const QString &recipients)
    {
        click("chkMail");
        click(onPass ? "optMail0" : "optMail1");
        type("txtMailServer", server);
        type("txtMail", recipients);
    }
    void check() { click("btnCheck"); }
    QString result() { return find<QLabel>("lblResult")->text(); }
    QString light()
    {
        return QLatin1String(find("imgGreen")->isVisible() ? "green" : "")
            + QLatin1String(find("imgRed")->isVisible() ? "red" : "");
    }
};

bool asRoot()
{
    return ::geteuid() == 0;
}

} // namespace

class TestCheckAction : public QObject
{
    Q_OBJECT
    bool m_resolverConfined = false;
    QString m_resolverWhy;

private slots:
    void initTestCase() { m_resolverConfined = LoopbackResolver::confine(&m_resolverWhy); }
    void init() { EventWait::resetAbandoned(); }
    void cleanup()
    {
        // A message a test expected but did not get would otherwise answer the next one.
        MessageBox::takeShown();
        QVERIFY(!QApplication::overrideCursor());
    }

    void outcome_data()
    {
        QTest::addColumn<QString>("peer"); // what answers on the device
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("port"); // "peer": the listener's own port
        QTest::addColumn<QString>("result");
        QTest::newRow("open port") << "open" << 3 << "peer" << "Port Available";
        QTest::newRow("refused port") << "refused" << 3 << "peer" << "Port Un-Available";
        // The kind decides the port; the logon box counts for the FTP kind only,
        // and a failed logon is still a passed check.
        QTest::newRow("FTP, logon allowed") << "ftp:anonymous" << 0 << "80" << "Port Available, Logon Successfull";
        QTest::newRow("FTP, logon refused") << "ftp:named-only" << 0 << "80" << "Port Available, Logon failed";
        QTest::newRow("FTP, port closed: no logon") << "none" << 0 << "21" << "Port Un-Available";
        QTest::newRow("SMTP, no logon") << "greeter:25" << 2 << "21" << "Port Available";
        // Any check of port 7 pings too; the note follows the TCP outcome.
        QTest::newRow("Other Port 7, no echo service") << "none" << 3 << "7" << "Port Un-Available, Ping reply OK";
        QTest::newRow("Ping/Echo, echo service") << "echo:7" << 1 << "80" << "Port Available, Ping reply OK";
    }
    void outcome()
    {
        QFETCH(QString, peer);
        QFETCH(int, kind);
        QFETCH(QString, port);
        QFETCH(QString, result);
        const bool ownAddress = kind != 3 || port == QLatin1String("7");
        if (ownAddress && !asRoot())
            QSKIP("fixed ports of a loopback address of its own can only be bound as root");
        if (result.endsWith(QLatin1String("OK"))
            && !modIP32::Ping_Host(QStringLiteral("127.0.0.1"), 1, 500, QStringLiteral("echo request")))
            QSKIP("no ICMP echo here");
        const QString address = ownAddress ? privateLoopbackAddress() : QStringLiteral("127.0.0.1");
        std::optional<LoopbackPort> listener;
        std::optional<PythonPeer> ftp;
        std::optional<ScriptedPeer> greeter;
        if (peer == QLatin1String("open") || peer == QLatin1String("echo:7"))
            listener.emplace(LoopbackPort::open(address, peer == QLatin1String("open") ? 0 : 7));
        else if (peer == QLatin1String("refused"))
            listener.emplace(LoopbackPort::refused());
        else if (peer.startsWith(QLatin1String("ftp:")))
            ftp.emplace(QStringLiteral("ftp_server.py"), QStringList{address, QStringLiteral("21"), peer.mid(4)});
        else if (peer == QLatin1String("greeter:25"))
            greeter.emplace(QByteArray("220 ready\r\n"), QList<QByteArray>{"230 welcome\r\n"}, address, 25);
        if (ftp)
            QVERIFY2(ftp->isReady(), qPrintable(ftp->errorText()));

        MarkerScript script;
        CheckWindow window(address, port == QLatin1String("peer") ? QString::number(listener->port()) : port, kind);
        window.click("chkLogon");
        window.commandRow(true, script.path());
        window.check();
        QCOMPARE(window.result(), result);
        const bool passed = result.startsWith(QLatin1String("Port Available"));
        QCOMPARE(window.light(), QLatin1String(passed ? "green" : "red"));
        QVERIFY(MessageBox::takeShown().isEmpty());
        QCOMPARE(script.waitForMarker(passed ? 20000 : 300), passed); // the "OK" command follows a passed check
        if (greeter)
            QCOMPARE(greeter->received(2000), QList<QByteArray>());
    }

    void followUps_data()
    {
        QTest::addColumn<QString>("port"); // "open", "refused" or a text of the port field
        QTest::addColumn<bool>("commandOnPass");
        QTest::addColumn<bool>("mailOnPass");
        QTest::addColumn<QString>("mailBody"); // "" when no mail goes
        QTest::newRow("pass: command OK, mail N/A") << "open" << true << false << "";
        QTest::newRow("fail: command OK, mail N/A") << "refused" << true << false << "Port %1 on device 127.0.0.1 is un-available.";
        QTest::newRow("pass: command N/A, mail OK") << "open" << false << true << "Port %1 on device 127.0.0.1 is available.";
        // The mail names the port that was probed: letters probe port 0.
        QTest::newRow("port field of letters") << "http" << true << false << "Port 0 on device 127.0.0.1 is un-available.";
    }
    void followUps()
    {
        QFETCH(QString, port);
        QFETCH(bool, commandOnPass);
        QFETCH(bool, mailOnPass);
        QFETCH(QString, mailBody);
        const LoopbackPort peer = port == QLatin1String("open") ? LoopbackPort::open() : LoopbackPort::refused();
        const QString portText = port == QLatin1String("http") ? port : QString::number(peer.port());
        SmtpServer mail;
        QVERIFY2(mail.isRunning(), qPrintable(mail.failure()));
        MarkerScript script;
        CheckWindow window(QStringLiteral("127.0.0.1"), portText);
        window.commandRow(commandOnPass, script.path(), QStringLiteral("\"two words\" last"));
        window.mailRow(mailOnPass, mail.address(), QStringLiteral("a@example.com, b@example.com"));
        window.check();
        const bool passed = port == QLatin1String("open");
        QCOMPARE(mail.messages().size(), mailBody.isEmpty() ? 0 : 1);
        if (!mailBody.isEmpty()) {
            const auto message = mail.messages().first();
            QCOMPARE(message.rcptTos, (QStringList{"a@example.com", "b@example.com"}));
            QCOMPARE(message.header(QStringLiteral("Subject")),
                     QStringList{QStringLiteral("Port Check %1 on device 127.0.0.1").arg(passed ? "Passed" : "Failed")});
            QCOMPARE(message.body.trimmed(), mailBody.arg(peer.port()));
        }
        QCOMPARE(script.waitForMarker(commandOnPass == passed ? 20000 : 300), commandOnPass == passed);
        if (commandOnPass == passed)
            QCOMPARE(script.record()->arguments, (QStringList{"two words", "last"}));
        QVERIFY(MessageBox::takeShown().isEmpty());
    }

    void messages_data()
    {
        QTest::addColumn<QString>("device");
        QTest::addColumn<bool>("open");
        QTest::addColumn<bool>("commandFails"); // on the outcome
        QTest::addColumn<bool>("mailFails");    // else to a working server, on the outcome
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("result");
        QTest::addColumn<int>("mailsSent");
        QTest::newRow("unresolvable name: nothing probed")
            << "nohost.invalid" << true << true << false << "Invalid IP address, please re-enter device name." << "" << 0;
        QTest::newRow("failed command, the mail still goes") << "127.0.0.1" << false << true << false
            << "Error executing specified command, /nonexistent/tool" << "Port Un-Available" << 1;
        QTest::newRow("failed mail") << "127.0.0.1" << true << false << true << "Error sending SMTP email."
                                     << "Port Available" << 0;
    }
    // Every message has an exclamation icon and the title "Ostrel", and comes
    // with the normal pointer back.
    void messages()
    {
        QFETCH(QString, device);
        QFETCH(bool, open);
        QFETCH(bool, commandFails);
        QFETCH(bool, mailFails);
        QFETCH(QString, message);
        QFETCH(QString, result);
        QFETCH(int, mailsSent);
        if (device != QLatin1String("127.0.0.1") && !m_resolverConfined)
            QSKIP(qPrintable(QStringLiteral("a look-up that fails would ask the network: ") + m_resolverWhy));
        const LoopbackPort port = open ? LoopbackPort::open() : LoopbackPort::refused();
        const LoopbackPort noMailServer = LoopbackPort::refused();
        SmtpServer mail;
        QVERIFY2(mail.isRunning(), qPrintable(mail.failure()));
        CheckWindow window(device, QString::number(port.port()));
        if (commandFails)
            window.commandRow(open, QStringLiteral("/nonexistent/tool"));
        window.mailRow(open, mailFails ? QStringLiteral("127.0.0.1:%1").arg(noMailServer.port()) : mail.address(),
                       QStringLiteral("ops@example.com"));
        MessageBox::setNextAnswer(QMessageBox::Ok);
        window.check();
        const auto shown = MessageBox::takeShown();
        QCOMPARE(shown.size(), 1);
        QCOMPARE(shown.first().text, message);
        QCOMPARE(shown.first().caption, QStringLiteral("Ostrel"));
        QCOMPARE(shown.first().icon, MessageBox::Icon::Exclamation);
        QVERIFY(!shown.first().busyPointer);
        QCOMPARE(window.result(), result);
        QCOMPARE(mail.messages().size(), mailsSent);
    }

    // The real message box shows a command as typed, never as markup.
    void messageShowsTextAsTyped()
    {
        const LoopbackPort refused = LoopbackPort::refused();
        CheckWindow window(QStringLiteral("127.0.0.1"), QString::number(refused.port()));
        window.commandRow(false, QStringLiteral("/nonexistent/a<i>b</i>.sh"));
        QString read;
        ModalWatch watch([&read](QWidget *box) {
            if (auto *label = box->findChild<QLabel *>(QStringLiteral("qt_msgbox_label")))
                read = QAccessible::queryAccessibleInterface(label)->text(QAccessible::Name);
            box->close();
        });
        window.check();
        QCOMPARE(read, QStringLiteral("Error executing specified command, /nonexistent/a<i>b</i>.sh"));
    }

    void secondClickDuringACheckStartsNothing()
    {
        LoopbackPort port = LoopbackPort::open();
        CheckWindow window(QStringLiteral("127.0.0.1"), QString::number(port.port()));
        int clicks = 0;
        QTimer::singleShot(0, &window, [&] { // at the check's first pause
            ++clicks;
            window.check();
        });
        window.check();
        QCOMPARE(clicks, 1);
        QCOMPARE(window.result(), QStringLiteral("Port Available"));
        QVERIFY(port.accept(1000) >= 0); // one check, one connection
        QCOMPARE(port.accept(200), -1);
    }

    void staysAliveAndCloses_data()
    {
        QTest::addColumn<QString>("peer");
        QTest::addColumn<int>("closeAt"); // ms after the click; -1: never
        QTest::newRow("blackholed port, waited out") << "blackholed" << -1;
        QTest::newRow("blackholed port, closed at 0.5 s") << "blackholed" << 500;
        QTest::newRow("silent FTP server, waited out") << "silent ftp" << -1;
        QTest::newRow("silent FTP server, closed at 0.5 s") << "silent ftp" << 500;
    }
    // Through a 2 s wait the window keeps taking events (a 50 ms timer goes
    // on firing); closing it ends the check at once, with the fields stored
    // and no follow-up started.
    void staysAliveAndCloses()
    {
        QFETCH(QString, peer);
        QFETCH(int, closeAt);
        const bool ftp = peer == QLatin1String("silent ftp");
        if (ftp && !asRoot())
            QSKIP("port 21 of a loopback address of its own can only be bound as root");
        const TemporarySettings settings;
        const QString address = ftp ? privateLoopbackAddress() : QStringLiteral("127.0.0.1");
        LoopbackPort listener = ftp ? LoopbackPort::open(address, 21) : LoopbackPort::blackholed();
        MarkerScript script;
        CheckWindow window(address, QString::number(listener.port()), ftp ? 0 : 3);
        window.click("chkLogon");
        // A silent server passes the port and fails the logon; a blackholed port fails.
        window.commandRow(ftp, script.path());
        window.find<QScrollBar>("HScroll1")->setValue(2);

        int ticks = 0;
        QTimer ticker;
        ticker.callOnTimeout([&ticks] { ++ticks; });
        ticker.start(50);
        QElapsedTimer clock;
        clock.start();
        if (closeAt >= 0)
            QTimer::singleShot(closeAt, &window, [&window] { window.close(); });
        window.check();
        const qint64 took = clock.elapsed();
        ticker.stop();
        if (closeAt < 0) {
            QVERIFY2(ticks >= 20, qPrintable(QStringLiteral("%1 ticks in %2 ms").arg(ticks).arg(took)));
            QVERIFY(took >= 1900);
            QVERIFY(script.waitForMarker());
        } else {
            QVERIFY2(took <= closeAt + 500, qPrintable(QStringLiteral("ended after %1 ms").arg(took)));
            QVERIFY2(ticks >= 7, qPrintable(QStringLiteral("%1 ticks").arg(ticks)));
            QVERIFY(!window.isVisible());
            QVERIFY(!script.waitForMarker(500));
            QCOMPARE(settings.storedTexts().value(QStringLiteral("DeviceName")), address);
        }
        QVERIFY(MessageBox::takeShown().isEmpty());
    }
};

WINDOW_TEST(TestCheckAction)
#include "tst_checkaction.moc"
