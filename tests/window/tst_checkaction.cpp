// The check button run from the real window, against real peers: loopback
// listeners, an FTP server on port 21 of a loopback address of its own, an
// SMTP server, and marker scripts for the command row.
#include "LoopbackPeers.h"
#include "LoopbackResolver.h"
#include "MarkerScript.h"
#include "PythonPeer.h"
#include "SmtpServer.h"
#include "probes/modIP32.h"
#include "shell/MessageBox.h"
#include "window/frmOstrel.h"

#include <QApplication>
#include <QCheckBox>
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
class CheckWindow
{
public:
    CheckWindow() { m_form.show(); }

    template <typename Control>
    Control *control(const char *name)
    {
        auto *found = m_form.findChild<Control *>(QLatin1String(name));
        if (!found)
            qFatal("no control %s", name);
        return found;
    }

    void type(const char *field, const QString &text) { control<QLineEdit>(field)->setText(text); }
    void tick(const char *box) { control<QCheckBox>(box)->setCheckState(Qt::Checked); }
    void choose(const char *option) { control<QRadioButton>(option)->click(); }
    void setTimeout(int seconds) { control<QScrollBar>("HScroll1")->setValue(seconds); }

    // Device name and Other Port with the port given.
    void target(const QString &device, const QString &port)
    {
        type("txtDeviceName", device);
        type("txtPort", port);
        choose("optCheck3");
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
    // "green", "red" or "none"
    QString light()
    {
        const bool green = control<QLabel>("imgGreen")->isVisible();
        const bool red = control<QLabel>("imgRed")->isVisible();
        return green && !red ? QStringLiteral("green") : red && !green ? QStringLiteral("red")
            : !green && !red                           ? QStringLiteral("none")
                                                       : QStringLiteral("both");
    }

    frmOstrel &form() { return m_form; }

private:
    frmOstrel m_form;
};

bool canPing()
{
    return modIP32::Ping_Host(QStringLiteral("127.0.0.1"), 1, 500, QStringLiteral("echo request"));
}

} // namespace

class TestCheckAction : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanup();
    void tcpOutcome_data();
    void tcpOutcome();
    void enterInTheDeviceNameRunsTheCheck();
    void ftpLogon_data();
    void ftpLogon();
    void ftpPortClosedTriesNoLogon();
    void logonOnlyForTheFtpKind();
    void echoPortAddsThePingNote_data();
    void echoPortAddsThePingNote();
    void portFieldOfLettersProbesPortZero();
    void unresolvableNameIsRefused();
    void followUpsOnTheirOwnTriggers_data();
    void followUpsOnTheirOwnTriggers();
    void failedCommandStillSendsTheMail();
    void failedMailIsReported();
    void secondClickDuringACheckStartsNothing();
    void closingTheWindowStopsTheCheck();

private:
    bool m_resolverConfined = false;
    QString m_resolverWhy;
};

void TestCheckAction::initTestCase()
{
    m_resolverConfined = LoopbackResolver::confine(&m_resolverWhy);
}

void TestCheckAction::cleanup()
{
    // A message a test expected but did not get would otherwise answer the next one.
    MessageBox::takeShown();
    QVERIFY(!QApplication::overrideCursor());
}

void TestCheckAction::tcpOutcome_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("result");
    QTest::addColumn<QString>("light");
    QTest::newRow("open port") << "open" << "Port Available" << "green";
    QTest::newRow("refused port") << "refused" << "Port Un-Available" << "red";
    QTest::newRow("silent port, timeout 1") << "blackholed" << "Port Un-Available" << "red";
}

void TestCheckAction::tcpOutcome()
{
    QFETCH(QString, kind);
    QFETCH(QString, result);
    QFETCH(QString, light);
    const LoopbackPort port = kind == QLatin1String("open") ? LoopbackPort::open()
        : kind == QLatin1String("refused")                   ? LoopbackPort::refused()
                                                             : LoopbackPort::blackholed();
    CheckWindow window;
    window.setTimeout(1);
    window.target(QStringLiteral("127.0.0.1"), QString::number(port.port()));
    window.check();
    QCOMPARE(window.result(), result);
    QCOMPARE(window.light(), light);
    QVERIFY(MessageBox::takeShown().isEmpty());
}

void TestCheckAction::enterInTheDeviceNameRunsTheCheck()
{
    const LoopbackPort port = LoopbackPort::open();
    CheckWindow window;
    window.target(QStringLiteral("127.0.0.1"), QString::number(port.port()));
    QTest::keyClick(window.control<QLineEdit>("txtDeviceName"), Qt::Key_Return);
    QCOMPARE(window.result(), QStringLiteral("Port Available"));
    QCOMPARE(window.light(), QStringLiteral("green"));
}

void TestCheckAction::ftpLogon_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<QString>("result");
    QTest::newRow("anonymous allowed") << "anonymous" << "Port Available, Logon Successfull";
    QTest::newRow("anonymous refused") << "named-only" << "Port Available, Logon failed";
}

void TestCheckAction::ftpLogon()
{
    QFETCH(QString, mode);
    QFETCH(QString, result);
    if (::geteuid() != 0)
        QSKIP("the FTP port 21 can only be bound as root");
    const QString address = privateLoopbackAddress();
    PythonPeer server(QStringLiteral("ftp_server.py"), {address, QStringLiteral("21"), mode});
    QVERIFY2(server.isReady(), qPrintable(server.errorText()));

    // A failed logon is still a passed check: the "OK" command runs.
    MarkerScript script;
    CheckWindow window;
    window.type("txtDeviceName", address);
    window.type("txtPort", QStringLiteral("80"));
    window.choose("optCheck0");
    window.tick("chkLogon");
    window.commandRow(true, script.path());
    window.check();
    QCOMPARE(window.result(), result);
    QCOMPARE(window.light(), QStringLiteral("green"));
    QVERIFY(script.waitForMarker());
}

void TestCheckAction::ftpPortClosedTriesNoLogon()
{
    CheckWindow window;
    // Nothing listens on port 21 of this address.
    window.type("txtDeviceName", privateLoopbackAddress());
    window.choose("optCheck0");
    window.tick("chkLogon");
    window.check();
    QCOMPARE(window.result(), QStringLiteral("Port Un-Available"));
    QCOMPARE(window.light(), QStringLiteral("red"));
}

void TestCheckAction::logonOnlyForTheFtpKind()
{
    if (::geteuid() != 0)
        QSKIP("the SMTP port 25 can only be bound as root");
    const QString address = privateLoopbackAddress();
    // It greets like an FTP server, but the SMTP kind must not log on.
    ScriptedPeer peer(QByteArray("220 ready\r\n"), {"230 welcome\r\n"}, address, 25);
    CheckWindow window;
    window.type("txtDeviceName", address);
    window.choose("optCheck2");
    window.tick("chkLogon");
    window.check();
    QCOMPARE(window.result(), QStringLiteral("Port Available"));
    QCOMPARE(peer.received(2000), QList<QByteArray>());
}

void TestCheckAction::echoPortAddsThePingNote_data()
{
    QTest::addColumn<QString>("option");
    QTest::addColumn<bool>("echoService");
    QTest::addColumn<QString>("result");
    QTest::newRow("Other Port 7, no echo service") << "optCheck3" << false << "Port Un-Available, Ping reply OK";
    QTest::newRow("Ping/Echo kind, echo service") << "optCheck1" << true << "Port Available, Ping reply OK";
}

void TestCheckAction::echoPortAddsThePingNote()
{
    QFETCH(QString, option);
    QFETCH(bool, echoService);
    QFETCH(QString, result);
    if (::geteuid() != 0 || !canPing())
        QSKIP("no ICMP echo here (binding port 7 and raw sockets need root)");
    const QString address = privateLoopbackAddress();
    std::optional<LoopbackPort> echo;
    if (echoService)
        echo.emplace(LoopbackPort::open(address, 7));

    CheckWindow window;
    window.type("txtDeviceName", address);
    window.type("txtPort", QStringLiteral("7"));
    window.choose(option.toLatin1().constData());
    window.check();
    QCOMPARE(window.result(), result);
    QCOMPARE(window.light(), echoService ? QStringLiteral("green") : QStringLiteral("red"));
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
    QCOMPARE(mail.messages().first().body.trimmed(),
             QStringLiteral("Port 0 on device 127.0.0.1 is un-available."));
}

void TestCheckAction::unresolvableNameIsRefused()
{
    if (!m_resolverConfined)
        QSKIP(qPrintable(QStringLiteral("a look-up that fails would ask the network: ") + m_resolverWhy));
    CheckWindow window;
    window.type("txtDeviceName", QStringLiteral("nohost.invalid"));
    MessageBox::setNextAnswer(QMessageBox::Ok);
    window.check();
    const auto shown = MessageBox::takeShown();
    QCOMPARE(shown.size(), 1);
    QCOMPARE(shown.first().text, QStringLiteral("Invalid IP address, please re-enter device name."));
    QCOMPARE(shown.first().caption, QStringLiteral("Ostrel"));
    QCOMPARE(shown.first().icon, MessageBox::Icon::Exclamation);
    QVERIFY(!shown.first().busyPointer);
    QCOMPARE(window.result(), QString());
    QCOMPARE(window.light(), QStringLiteral("none"));
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
    QTest::newRow("pass: both OK") << true << true << true << true << true;
    QTest::newRow("fail: both N/A") << false << false << false << true << true;
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
                 QStringList{(passes ? QStringLiteral("Port Check Passed on device ")
                                     : QStringLiteral("Port Check Failed on device "))
                             + QStringLiteral("127.0.0.1")});
    }
    if (commandRuns) {
        QVERIFY(script.waitForMarker());
        QCOMPARE(script.record()->arguments, (QStringList{"two words", "last"}));
    } else {
        QVERIFY(!script.waitForMarker(500));
    }
    QVERIFY(MessageBox::takeShown().isEmpty());
}

void TestCheckAction::failedCommandStillSendsTheMail()
{
    const LoopbackPort port = LoopbackPort::refused();
    SmtpServer mail;
    QVERIFY2(mail.isRunning(), qPrintable(mail.failure()));
    CheckWindow window;
    window.target(QStringLiteral("127.0.0.1"), QString::number(port.port()));
    window.commandRow(false, QStringLiteral("/nonexistent/tool"));
    window.mailRow(false, mail.address(), QStringLiteral("ops@example.com"));
    MessageBox::setNextAnswer(QMessageBox::Ok);
    window.check();
    const auto shown = MessageBox::takeShown();
    QCOMPARE(shown.size(), 1);
    QCOMPARE(shown.first().text, QStringLiteral("Error executing specified command, /nonexistent/tool"));
    QVERIFY(!shown.first().busyPointer);
    QCOMPARE(mail.messages().size(), 1);
}

void TestCheckAction::failedMailIsReported()
{
    const LoopbackPort port = LoopbackPort::open();
    const LoopbackPort noMailServer = LoopbackPort::refused();
    CheckWindow window;
    window.target(QStringLiteral("127.0.0.1"), QString::number(port.port()));
    window.mailRow(true, QStringLiteral("127.0.0.1:%1").arg(noMailServer.port()), QStringLiteral("ops@example.com"));
    MessageBox::setNextAnswer(QMessageBox::Ok);
    window.check();
    const auto shown = MessageBox::takeShown();
    QCOMPARE(shown.size(), 1);
    QCOMPARE(shown.first().text, QStringLiteral("Error sending SMTP email."));
    QCOMPARE(shown.first().caption, QStringLiteral("Ostrel"));
    QCOMPARE(window.result(), QStringLiteral("Port Available"));
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
