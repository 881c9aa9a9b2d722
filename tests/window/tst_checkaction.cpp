// The check button run from the real window against real peers: loopback
// listeners, FTP servers on port 21 of a loopback address of their own, an
// SMTP server, and marker scripts for the command row.
#include "LoopbackPeers.h"
#include "LoopbackResolver.h"
#include "MarkerScript.h"
#include "PythonPeer.h"
#include "SmtpServer.h"
#include "WindowTesting.h"
#include "probes/EventWait.h"
#include "probes/modIP32.h"
#include "shell/MessageBox.h"
#include "window/frmOstrel.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QScrollBar>
#include <QTimer>
#include <unistd.h>

namespace {

// The window with its fields set the way a user would set them.
class CheckWindow : public frmOstrel
{
public:
    CheckWindow(const QString &device, const QString &port, int kind)
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
    // Each follow-up row on "OK" (pass), "N/A" (fail) or "" (off).
    void commandRow(const QString &on, const QString &command)
    {
        if (!on.isEmpty())
            click("chkEXE"), click(on == QLatin1String("OK") ? "optEXE0" : "optEXE1");
        type("txtEXE", command);
        type("txtArg", QStringLiteral("\"two words\" last"));
    }
    void mailRow(const QString &on, const QString &server)
    {
        if (!on.isEmpty())
            click("chkMail"), click(on == QLatin1String("OK") ? "optMail0" : "optMail1");
        type("txtMailServer", server);
        type("txtMail", QStringLiteral("a@example.com, b@example.com"));
    }
    QString outcome()
    {
        return find<QLabel>("lblResult")->text() + QLatin1String(find("imgGreen")->isVisible() ? " (green)" : "")
            + QLatin1String(find("imgRed")->isVisible() ? " (red)" : "");
    }
};

} // namespace

struct CheckRow {
    const char *name;
    const char *peer; // what answers: open, refused, blackholed, none, ftp:anonymous, ftp:named-only, greeter, echo
    int kind;
    const char *port; // "peer": the listener's own
    const char *command, *mail; // the rows' triggers
    const char *outcome, *message, *mailBody;
};
Q_DECLARE_METATYPE(CheckRow)

class TestCheckAction : public QObject
{
    Q_OBJECT
    bool m_resolverConfined = false;
    QString m_resolverWhy;

private slots:
    void initTestCase() { m_resolverConfined = LoopbackResolver::confine(&m_resolverWhy); }
    void init() { EventWait::resetAbandoned(); }
    void cleanup() { MessageBox::takeShown(); }

    void check_data()
    {
        const char *unavailable = "Port Un-Available (red)";
        ROWS(CheckRow, (std::initializer_list<CheckRow>{
            {"open port", "open", 3, "peer", "OK", "N/A", "Port Available (green)", "", ""},
            {"refused port, mail N/A", "refused", 3, "peer", "OK", "N/A", unavailable, "", "Port %1 on device %2 is un-available."},
            {"open port, mail OK", "open", 3, "peer", "N/A", "OK", "Port Available (green)", "", "Port %1 on device %2 is available."},
            // The mail names the port probed: letters probe port 0.
            {"port of letters", "none", 3, "http", "", "N/A", unavailable, "", "Port 0 on device %2 is un-available."},
            // The kind decides the port; the logon box counts for the FTP kind only; a failed logon still passes.
            {"FTP, logon allowed", "ftp:anonymous", 0, "80", "OK", "", "Port Available, Logon Successfull (green)", "", ""},
            {"FTP, logon refused", "ftp:named-only", 0, "80", "OK", "", "Port Available, Logon failed (green)", "", ""},
            {"FTP, port closed: no logon", "none", 0, "21", "OK", "", unavailable, "", ""},
            {"SMTP, no logon", "greeter", 2, "21", "OK", "", "Port Available (green)", "", ""},
            // Any check of port 7 pings too; the note follows the TCP outcome.
            {"Other Port 7, no echo service", "none", 3, "7", "", "", "Port Un-Available, Ping reply OK (red)", "", ""},
            {"Ping/Echo, echo service", "echo", 1, "80", "", "", "Port Available, Ping reply OK (green)", "", ""},
            // Every message comes with the normal pointer back; a failed command does not keep the mail back.
            {"name that does not resolve", "open", 3, "peer", "OK", "OK", "", "Invalid IP address, please re-enter device name.", ""},
            {"failed command", "refused", 3, "peer", "N/A /nonexistent/a<i>b</i>.sh", "N/A", unavailable,
             "Error executing specified command, /nonexistent/a<i>b</i>.sh", "Port %1 on device %2 is un-available."},
            // The reason follows on a second line.
            {"failed mail", "open", 3, "peer", "", "OK refused", "Port Available (green)",
             "Error sending SMTP email.\nConnection refused (127.0.0.1:%3)", ""}}))
    }
    void check()
    {
        QFETCH(CheckRow, row);
        const QString peer = QLatin1String(row.peer), port = QLatin1String(row.port);
        const bool ownAddress = row.kind != 3 || port == QLatin1String("7");
        if (ownAddress && ::geteuid() != 0)
            QSKIP("fixed ports of a loopback address of its own can only be bound as root");
        if (QByteArray(row.outcome).contains("Ping") && !modIP32::Ping_Host("127.0.0.1", 1, 500, "echo request"))
            QSKIP("no ICMP echo here");
        if (QByteArray(row.message).startsWith("Invalid") && !m_resolverConfined)
            QSKIP(qPrintable("a look-up that fails would ask the network: " + m_resolverWhy));
        const QString address = ownAddress ? privateLoopbackAddress() : QStringLiteral("127.0.0.1");
        std::optional<LoopbackPort> listener;
        std::optional<PythonPeer> ftp;
        std::optional<ScriptedPeer> greeter;
        if (peer == QLatin1String("open") || peer == QLatin1String("echo"))
            listener.emplace(LoopbackPort::open(address, peer == QLatin1String("open") ? 0 : 7));
        else if (peer == QLatin1String("refused"))
            listener.emplace(LoopbackPort::refused());
        else if (peer.startsWith(QLatin1String("ftp:")))
            ftp.emplace(QStringLiteral("ftp_server.py"), QStringList{address, QStringLiteral("21"), peer.mid(4)});
        else if (peer == QLatin1String("greeter"))
            greeter.emplace(QByteArray("220 ready\r\n"), QList<QByteArray>{"230 welcome\r\n"}, address, 25);
        QVERIFY(!ftp || ftp->isReady());
        SmtpServer mail;
        const LoopbackPort noMailServer = LoopbackPort::refused();
        QVERIFY2(mail.isRunning(), qPrintable(mail.failure()));
        MarkerScript script;
        const QString probed = port == QLatin1String("peer") ? QString::number(listener->port()) : port;
        const QString device = QByteArray(row.message).startsWith("Invalid") ? "nohost.invalid" : address;
        CheckWindow window(device, probed, row.kind);
        window.click("chkLogon");
        const QString command = QLatin1String(row.command), mailOn = QLatin1String(row.mail);
        window.commandRow(command.section(' ', 0, 0), command.contains(' ') ? command.section(' ', 1) : script.path());
        window.mailRow(mailOn.section(' ', 0, 0),
                       mailOn.endsWith(QLatin1String("refused")) ? "127.0.0.1:" + QString::number(noMailServer.port())
                                                                 : mail.address());
        QString boxText; // the real box, read as a screen reader does: the text exactly as typed
        ModalWatch watch([&boxText](QWidget *box) {
            const bool busy = QApplication::overrideCursor();
            const bool plain = box->windowTitle() == QLatin1String("Ostrel")
                && static_cast<QMessageBox *>(box)->icon() == QMessageBox::Warning;
            if (auto *label = box->findChild<QLabel *>(QStringLiteral("qt_msgbox_label")))
                boxText = QAccessible::queryAccessibleInterface(label)->text(QAccessible::Name) + (busy ? " (busy)" : "")
                    + (plain ? "" : " (not an exclamation titled Ostrel)");
            box->close();
        });
        window.click("btnCheck");
        QCOMPARE(window.outcome(), QLatin1String(row.outcome));
        QCOMPARE(boxText, QString::fromLatin1(row.message).replace("%3", QString::number(noMailServer.port())));
        if (device != address)
            QCOMPARE(listener->accept(200), -1); // nothing probed
        const bool passed = QByteArray(row.outcome).startsWith("Port Available");
        const bool commandRuns = !command.contains(' ') && !command.isEmpty() && (command == QLatin1String("OK")) == passed
            && !QByteArray(row.outcome).isEmpty();
        QCOMPARE(script.waitForMarker(commandRuns ? 20000 : 300), commandRuns);
        if (commandRuns)
            QCOMPARE(script.record()->arguments, (QStringList{"two words", "last"}));
        const QString body = QString::fromLatin1(row.mailBody).replace("%1", probed).replace("%2", address);
        QCOMPARE(mail.messages().size(), body.isEmpty() ? 0 : 1);
        if (!body.isEmpty()) {
            QCOMPARE(mail.messages().first().rcptTos, (QStringList{"a@example.com", "b@example.com"}));
            QCOMPARE(mail.messages().first().header("Subject"),
                     QStringList{QStringLiteral("Port Check %1 on device ").arg(passed ? "Passed" : "Failed") + address});
            QCOMPARE(mail.messages().first().body.trimmed(), body);
        }
        if (greeter)
            QCOMPARE(greeter->received(2000), QList<QByteArray>());
    }

    void secondClickDuringACheckStartsNothing()
    {
        LoopbackPort port = LoopbackPort::open();
        CheckWindow window(QStringLiteral("127.0.0.1"), QString::number(port.port()), 3);
        int clicks = 0;
        QTimer::singleShot(0, &window, [&] { ++clicks, window.click("btnCheck"); }); // at the check's first pause
        window.click("btnCheck");
        QCOMPARE(clicks, 1);
        QCOMPARE(window.outcome(), QStringLiteral("Port Available (green)"));
        QVERIFY(port.accept(1000) >= 0); // one check, one connection
        QCOMPARE(port.accept(200), -1);
    }

    // Through a 2 s wait the window keeps taking events (a 50 ms timer goes
    // on firing); closing it ends the check at once, with the fields stored
    // and no follow-up started.
    void staysAliveAndCloses()
    {
        for (const bool ftp : {false, true}) {
            for (const int closeAt : {-1, 500}) {
                if (ftp && ::geteuid() != 0)
                    QSKIP("port 21 of a loopback address of its own can only be bound as root");
                EventWait::resetAbandoned();
                const TemporarySettings settings;
                const QString address = ftp ? privateLoopbackAddress() : QStringLiteral("127.0.0.1");
                // A silent FTP server passes the port and never greets; a blackholed port fails.
                LoopbackPort listener = ftp ? LoopbackPort::open(address, 21) : LoopbackPort::blackholed();
                MarkerScript script;
                CheckWindow window(address, QString::number(listener.port()), ftp ? 0 : 3);
                window.click("chkLogon");
                window.commandRow(ftp ? "OK" : "N/A", script.path());
                window.find<QScrollBar>("HScroll1")->setValue(2);
                int ticks = 0;
                QTimer ticker;
                ticker.callOnTimeout([&ticks] { ++ticks; });
                ticker.start(50);
                if (closeAt >= 0)
                    QTimer::singleShot(closeAt, &window, &QWidget::close);
                QElapsedTimer clock;
                clock.start();
                window.click("btnCheck");
                const QString what = QStringLiteral("%1: %2 ticks in %3 ms").arg(ftp ? "FTP" : "TCP").arg(ticks).arg(clock.elapsed());
                if (closeAt < 0) {
                    QVERIFY2(ticks >= 20 && clock.elapsed() >= 1900, qPrintable(what));
                    QVERIFY(script.waitForMarker());
                } else {
                    QVERIFY2(clock.elapsed() <= closeAt + 500 && ticks >= 7, qPrintable(what));
                    QVERIFY(!window.isVisible() && !script.waitForMarker(500));
                    QCOMPARE(settings.storedTexts().value("DeviceName"), address);
                }
            }
        }
    }
};

WINDOW_TEST(TestCheckAction)
#include "tst_checkaction.moc"
