// The check button run from the real window, against real peers: loopback
// listeners, an FTP server on port 21 of a loopback address of its own, an
// SMTP server, and marker scripts for the command row.
#include "LoopbackPeers.h"
#include "LoopbackResolver.h"
#include "MarkerScript.h"
#include "PythonPeer.h"
#include "SmtpServer.h"
#include "WindowTesting.h"
#include "probes/modIP32.h"
#include "shell/MessageBox.h"
#include "window/frmOstrel.h"

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>
#include <unistd.h>

namespace {

// The window with its fields set the way a user would set them.
class CheckWindow
{
public:
    CheckWindow() { m_form.show(); }

    template <typename Control = QWidget>
    Control *control(const char *name) { return WindowTesting::control<Control>(m_form, QLatin1String(name)); }
    void type(const char *field, const QString &text) { control<QLineEdit>(field)->setText(text); }
    void tick(const char *box) { control<QCheckBox>(box)->setCheckState(Qt::Checked); }
    void choose(const QString &option) { control<QRadioButton>(qPrintable(option))->click(); }

    // Device name and the check kind, with the port text given.
    void target(const QString &device, const QString &port, int kind = 3)
    {
        type("txtDeviceName", device);
        type("txtPort", port);
        choose(QStringLiteral("optCheck%1").arg(kind));
    }
    void commandRow(bool onPass, const QString &command, const QString &argument = QString())
    {
        tick("chkEXE");
        choose(onPass ? "optEXE0" : "optEXE1");
        type("txtEXE", command);
        type("txtArg", argument);
    }
    void mailRow(bool onPass, const QString &server, const QString &recipients)
    {
        tick("chkMail");
        choose(onPass ? "optMail0" : "optMail1");
        type("txtMailServer", server);
        type("txtMail", recipients);
    }

    void check() { control<QPushButton>("btnCheck")->click(); }
    QString result() { return control<QLabel>("lblResult")->text(); }
    // "green", "red", "none" or "greenred"
    QString light()
    {
        const QString lights = QLatin1String(control("imgGreen")->isVisible() ? "green" : "")
            + QLatin1String(control("imgRed")->isVisible() ? "red" : "");
        return lights.isEmpty() ? QStringLiteral("none") : lights;
    }
    frmOstrel &form() { return m_form; }

private:
    frmOstrel m_form;
};

} // namespace

class TestCheckAction : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { m_resolverConfined = LoopbackResolver::confine(&m_resolverWhy); }
    void cleanup();
    void outcome_data();
    void outcome();
    void portFieldOfLettersProbesPortZero();
    void followUpsOnTheirOwnTriggers_data();
    void followUpsOnTheirOwnTriggers();
    void messages_data();
    void messages();
    void secondClickDuringACheckStartsNothing();
    void closingTheWindowStopsTheCheck();

private:
    bool m_resolverConfined = false;
    QString m_resolverWhy;
};

void TestCheckAction::cleanup()
{
    // A message a test expected but did not get would otherwise answer the next one.
    MessageBox::takeShown();
    QVERIFY(!QApplication::overrideCursor());
}

void TestCheckAction::outcome_data()
{
    QTest::addColumn<QString>("peer");  // what answers on the device
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("port");  // "peer": the listener's own port
    QTest::addColumn<QString>("result");
    QTest::addColumn<QString>("light");

    QTest::newRow("open port") << "open" << 3 << "peer" << "Port Available" << "green";
    QTest::newRow("refused port") << "refused" << 3 << "peer" << "Port Un-Available" << "red";
    // The kind decides the port; the logon box counts for the FTP kind only,
    // and a failed logon is still a passed check.
    QTest::newRow("FTP, logon allowed") << "ftp:anonymous" << 0 << "80" << "Port Available, Logon Successfull"
                                        << "green";
    QTest::newRow("FTP, logon refused") << "ftp:named-only" << 0 << "80" << "Port Available, Logon failed"
                                        << "green";
    QTest::newRow("FTP, port closed: no logon") << "none" << 0 << "21" << "Port Un-Available" << "red";
    QTest::newRow("SMTP, no logon") << "greeter:25" << 2 << "21" << "Port Available" << "green";
    // Any check of port 7 pings too; the note follows the TCP outcome.
    QTest::newRow("Other Port 7, no echo service") << "none" << 3 << "7" << "Port Un-Available, Ping reply OK"
                                                   << "red";
    QTest::newRow("Ping/Echo, echo service") << "echo:7" << 1 << "80" << "Port Available, Ping reply OK"
                                             << "green";
}

void TestCheckAction::outcome()
{
    QFETCH(QString, peer);
    QFETCH(int, kind);
    QFETCH(QString, port);
    QFETCH(QString, result);
    QFETCH(QString, light);

    const bool ownAddress = kind != 3 || port == QLatin1String("7");
    if (ownAddress && ::geteuid() != 0)
        QSKIP("fixed ports of a loopback address of its own can only be bound as root");
    if (result.endsWith(QLatin1String("Ping reply OK"))
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
    CheckWindow window;
    window.target(address, port == QLatin1String("peer") ? QString::number(listener->port()) : port, kind);
    window.tick("chkLogon");
    window.commandRow(true, script.path());
    window.check();
    QCOMPARE(window.result(), result);
    QCOMPARE(window.light(), light);
    QVERIFY(MessageBox::takeShown().isEmpty());
    // The "OK" command follows a passed check.
    if (light == QLatin1String("green"))
        QVERIFY(script.waitForMarker());
    if (greeter)
        QCOMPARE(greeter->received(2000), QList<QByteArray>());
}

void TestCheckAction::portFieldOfLettersProbesPortZero()
{
    SmtpServer mail;
    QVERIFY2(mail.isRunning(), qPrintable(mail.failure()));
    CheckWindow window;
    window.target(QStringLiteral("127.0.0.1"), QStringLiteral("http"));
    window.mailRow(false, mail.address(), QStringLiteral("ops@example.com"));
    window.check();
    QCOMPARE(window.result(), QStringLiteral("Port Un-Available"));
    // The mail names the port that was probed.
    QCOMPARE(mail.messages().size(), 1);
    QCOMPARE(mail.messages().first().body.trimmed(), QStringLiteral("Port 0 on device 127.0.0.1 is un-available."));
}

void TestCheckAction::followUpsOnTheirOwnTriggers_data()
{
    QTest::addColumn<bool>("passes");
    QTest::addColumn<bool>("commandOnPass");
    QTest::addColumn<bool>("mailOnPass");
    QTest::addColumn<bool>("commandRuns");
    QTest::addColumn<bool>("mailSent");
    QTest::newRow("pass: command OK, mail N/A") << true << true << false << true << false;
    QTest::newRow("fail: command OK, mail N/A") << false << true << false << false << true;
    QTest::newRow("pass: command N/A, mail OK") << true << false << true << false << true;
}

void TestCheckAction::followUpsOnTheirOwnTriggers()
{
    QFETCH(bool, passes);
    QFETCH(bool, commandOnPass);
    QFETCH(bool, mailOnPass);
    QFETCH(bool, commandRuns);
    QFETCH(bool, mailSent);

    const LoopbackPort port = passes ? LoopbackPort::open() : LoopbackPort::refused();
    SmtpServer mail;
    QVERIFY2(mail.isRunning(), qPrintable(mail.failure()));
    MarkerScript script;
    CheckWindow window;
    window.target(QStringLiteral("127.0.0.1"), QString::number(port.port()));
    window.commandRow(commandOnPass, script.path(), QStringLiteral("\"two words\" last"));
    window.mailRow(mailOnPass, mail.address(), QStringLiteral("a@example.com, b@example.com"));
    window.check();

    QCOMPARE(mail.messages().size(), mailSent ? 1 : 0);
    if (mailSent) {
        const auto message = mail.messages().first();
        QCOMPARE(message.rcptTos, (QStringList{"a@example.com", "b@example.com"}));
        QCOMPARE(message.header(QStringLiteral("Subject")),
                 QStringList{QStringLiteral("Port Check %1 on device 127.0.0.1").arg(passes ? "Passed" : "Failed")});
    }
    if (commandRuns) {
        QVERIFY(script.waitForMarker());
        QCOMPARE(script.record()->arguments, (QStringList{"two words", "last"}));
    } else {
        QVERIFY(!script.waitForMarker(500));
    }
    QVERIFY(MessageBox::takeShown().isEmpty());
}

void TestCheckAction::messages_data()
{
    QTest::addColumn<QString>("device");
    QTest::addColumn<bool>("open");
    QTest::addColumn<bool>("commandFails");  // on either outcome
    QTest::addColumn<bool>("mailFails");     // the mail row on either outcome; else to a working server
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("result");
    QTest::addColumn<int>("mailsSent");

    QTest::newRow("unresolvable name: nothing probed") << "nohost.invalid" << true << true << false
                                                       << "Invalid IP address, please re-enter device name." << ""
                                                       << 0;
    QTest::newRow("failed command, the mail still goes")
        << "127.0.0.1" << false << true << false << "Error executing specified command, /nonexistent/tool"
        << "Port Un-Available" << 1;
    // The reason follows on a second line.
    QTest::newRow("failed mail") << "127.0.0.1" << true << false << true
                                 << "Error sending SMTP email.\nConnection refused (127.0.0.1:%port)"
                                 << "Port Available" << 0;
}

// Every message is modal, with an exclamation icon and the title "Ostrel",
// and comes with the normal pointer back.
void TestCheckAction::messages()
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
    CheckWindow window;
    window.target(device, QString::number(port.port()));
    if (commandFails)
        window.commandRow(open, QStringLiteral("/nonexistent/tool"));
    window.mailRow(open, mailFails ? QStringLiteral("127.0.0.1:%1").arg(noMailServer.port()) : mail.address(),
                   QStringLiteral("ops@example.com"));
    MessageBox::setNextAnswer(QMessageBox::Ok);
    window.check();
    const auto shown = MessageBox::takeShown();
    QCOMPARE(shown.size(), 1);
    QCOMPARE(shown.first().text, message.replace(QStringLiteral("%port"), QString::number(noMailServer.port())));
    QCOMPARE(shown.first().caption, QStringLiteral("Ostrel"));
    QCOMPARE(shown.first().icon, MessageBox::Icon::Exclamation);
    QVERIFY(!shown.first().busyPointer);
    QCOMPARE(window.result(), result);
    QCOMPARE(mail.messages().size(), mailsSent);
}

void TestCheckAction::secondClickDuringACheckStartsNothing()
{
    LoopbackPort port = LoopbackPort::open();
    CheckWindow window;
    window.target(QStringLiteral("127.0.0.1"), QString::number(port.port()));
    auto *button = window.control<QPushButton>("btnCheck");
    // The click arrives at the check's first pause.
    int clicks = 0;
    QTimer::singleShot(0, button, [&] {
        ++clicks;
        button->click();
    });
    window.check();
    QCOMPARE(clicks, 1);
    QCOMPARE(window.result(), QStringLiteral("Port Available"));
    // One check, one connection.
    QVERIFY(port.accept(1000) >= 0);
    QCOMPARE(port.accept(200), -1);
}

void TestCheckAction::closingTheWindowStopsTheCheck()
{
    const LoopbackPort port = LoopbackPort::refused();
    MarkerScript script;
    CheckWindow window;
    window.target(QStringLiteral("127.0.0.1"), QString::number(port.port()));
    window.commandRow(false, script.path());
    // Escape (or the close box) at the check's first pause.
    QTimer::singleShot(0, &window.form(), [&] { window.form().close(); });
    window.check();
    QVERIFY(!window.form().isVisible());
    QCOMPARE(window.result(), QString());
    QVERIFY(!script.waitForMarker(500));
    QVERIFY(MessageBox::takeShown().isEmpty());
}

QTEST_MAIN(TestCheckAction)
#include "tst_checkaction.moc"
