// The check button of the real window against real peers: loopback listeners, FTP and SMTP servers, a command.
#include "LoopbackPeers.h"
#include "WindowTesting.h"
#include "qt/EventWait.h"
#include "window/frmOstrel.h"

// The window with its fields set as a user would, each follow-up on "OK" (pass), "N/A" (fail) or "" (off). Its own
// command writes what it is told of the check, then each argument, a line each, beside itself (whole, by a rename).
class CheckWindow : public frmOstrel {
    QTemporaryDir m_folder;
    const QString m_script = m_folder.filePath("marker.sh");

public:
    CheckWindow(const QString &device, quint16 port, int kind, const QString &commandOn, const QString &command = {},
        const QString &mailOn = {}, const QString &mailServer = {})
    {
        writeFile(m_script,
            "#!/bin/sh\nprintf '%s\\n' \"$OSTREL_DEVICE|$OSTREL_PORT|$OSTREL_RESULT\" \"$@\" >\"$0.part\" "
            "&& mv \"$0.part\" \"$0.told\"\n",
            QFile::ExeOwner);
        show();
        for (const auto &[name, text] :
            { std::pair<const char *, QString> { "txtDeviceName", device }, { "txtPort", QString::number(port) },
                { "txtEXE", command.isEmpty() ? m_script : command }, { "txtArg", "\"two words\" last" },
                { "txtMailServer", mailServer }, { "txtMail", "a@example.com, b@example.com" } })
            find<QLineEdit>(name)->setText(text);
        click(QStringLiteral("optCheck%1").arg(kind));
        click("chkLogon");
        for (const auto &[row, on] : { std::pair { "EXE", commandOn }, { "Mail", mailOn } }) {
            if (!on.isEmpty())
                click(QStringLiteral("chk") + row);
            click(QStringLiteral("opt%1%2").arg(row).arg(on == "OK" ? 0 : 1)); // no choice while the row is off
        }
    }
    template <typename T = QWidget> T *find(const QString &name) { return findChild<T *>(name); }
    void click(const QString &name) { find<QAbstractButton>(name)->click(); }
    // What the command wrote; nothing when it has not run within the time given.
    QString told(int timeoutMs) const
    {
        QFile file(m_script + ".told");
        const bool ran = QTest::qWaitFor([&file] { return file.exists(); }, timeoutMs);
        return ran && file.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(file.readAll()) : QString();
    }
};

// peer: open[:port], open6, refused or ftp:<its users>; port: typed (0: the peer's), probed by Other Port only;
// the logon box ticked always; command and mail: the trigger, then a command of the row's own or "blank" (server).
struct CheckRow {
    const char *name, *peer;
    int kind, port;
    const char *command, *mail, *outcome, *message;
    bool mailed = false;
};
Q_DECLARE_METATYPE(CheckRow)

class TestCheckAction : public QObject {
    Q_OBJECT
    const TemporarySettings m_settings;
    QTemporaryDir m_desktop;
    const QString m_helpPage = QCoreApplication::applicationFilePath() + ".htm"; // where F2 looks, beside the program

private slots:
    // A desktop of our own, whose xdg-mime never answers.
    void initTestCase()
    {
        QVERIFY(writeFile(
                    m_desktop.filePath("xdg-mime"), "#!/bin/sh\necho >>\"$0.asked\"\nexec sleep 10\n", QFile::ExeOwner)
            && QFile::link("/bin/true", m_desktop.filePath("xdg-open")) && writeFile(m_helpPage, ""));
        qputenv("PATH", QFile::encodeName(m_desktop.path()) + ':' + qgetenv("PATH"));
        // A display no X server has: this test's peers must not pass for clients of another test's Xvfb.
        qputenv("DISPLAY", ":ostrel-none");
    }
    void cleanupTestCase() { QFile::remove(m_helpPage); }

    void check_data()
    {
        // A failed logon still passes, and a failed command does not keep the mail back (a failed mail: below).
        ROWS(CheckRow, { "open IPv6 port", "open6", 3, 0, "OK", "OK", "Port Available (green)", "", true },
            { "FTP, logon allowed", "ftp:anonymous", 0, 80, "OK", "", "Port Available, Logon Successfull (green)", "" },
            { "FTP, logon refused", "ftp:named-only", 0, 80, "OK", "", "Port Available, Logon failed (green)", "" },
            { "SMTP, no logon", "open:25", 2, 21, "OK", "N/A", "Port Available (green)", "" },
            { "mail without a server", "open", 3, 0, "", "OK blank", "Port Available (green)",
                "Error sending SMTP email.\nno mail server given" },
            { "Ping/Echo", "open:7", 1, 80, "", "", "Port Available, Ping reply OK (green)", "" },
            { "name that does not resolve", "open", 3, 0, "OK", "OK", "",
                "Invalid IP address, please re-enter device name." },
            { "failed command", "refused", 3, 0, "N/A /nonexistent/a<i>b</i>.sh", "N/A", "Port Un-Available (red)",
                "Error executing specified command, /nonexistent/a<i>b</i>.sh", true })
    }
    void check()
    {
        QFETCH(CheckRow, row);
        const QString peer = QLatin1String(row.peer), command = QLatin1String(row.command);
        const bool invalid = QByteArray(row.message).startsWith("Invalid");
        const QString address = peer == "open6" ? QStringLiteral("::1")
            : row.kind != 3                     ? QString::fromStdString(privateLoopbackAddress())
                                                : QStringLiteral("127.0.0.1");
        LoopbackPort listener = peer == "refused"
            ? LoopbackPort::refused()
            : LoopbackPort::open(address.toStdString(), peer.section(':', 1).toUShort());
        std::optional<PythonPeer> ftp;
        if (peer.startsWith("ftp:"))
            ftp.emplace(QStringLiteral("ftp_server.py"), QStringList { address, QStringLiteral("21"), peer.mid(4) });
        QVERIFY(!ftp || ftp->isReady());
        const QTemporaryDir records; // each message aiosmtpd takes, a JSON object a line
        const PythonPeer mail(QStringLiteral("smtp_server.py"), { QStringLiteral("--record"), records.path() });
        QVERIFY2(mail.isReady(), qPrintable(mail.errorText()));
        const QString mailOn = QLatin1String(row.mail);
        const quint16 probed = row.port ? row.port : listener.port();
        CheckWindow window(invalid ? "nohost.invalid" : address, probed, row.kind, command.section(' ', 0, 0),
            command.section(' ', 1), mailOn.section(' ', 0, 0),
            mailOn.endsWith("blank") ? " " : "127.0.0.1:" + QString::number(mail.port()));
        QString boxText; // the real box read as a screen reader does, its text exactly as typed, the pointer normal
        ModalWatch watch([&boxText](QWidget *box) {
            const bool plain
                = box->windowTitle() == "Ostrel" && static_cast<QMessageBox *>(box)->icon() == QMessageBox::Warning;
            if (auto *label = box->findChild<QLabel *>(QStringLiteral("qt_msgbox_label")))
                boxText = QAccessible::queryAccessibleInterface(label)->text(QAccessible::Name)
                    + (QApplication::overrideCursor() ? " (busy)" : "")
                    + (plain ? "" : " (not an exclamation titled Ostrel)");
            box->close();
        });
        window.click("btnCheck");
        QCOMPARE(window.find<QLabel>("lblResult")->text() + (window.find("imgGreen")->isVisible() ? " (green)" : "")
                + (window.find("imgRed")->isVisible() ? " (red)" : ""),
            QLatin1String(row.outcome));
        QCOMPARE(boxText, QLatin1String(row.message));
        if (invalid)
            QCOMPARE(listener.accept(200), -1); // nothing probed
        const bool passed = QByteArray(row.outcome).startsWith("Port Available");
        const bool commandRuns = command == (passed ? "OK" : "N/A") && !invalid;
        const QString result = passed ? "available" : "un-available";
        const QString probedKind = QString::number(QList { 21, 7, 25, int(probed) }.at(row.kind));
        // With the check, and the port the kind probed, in its environment.
        QCOMPARE(window.told(commandRuns ? 20000 : 300),
            commandRuns ? QStringLiteral("%1|%2|%3\ntwo words\nlast\n").arg(address, probedKind, result) : QString());
        QStringList sent;
        QFile messages(records.filePath("messages"));
        for (const QByteArray &line :
            messages.open(QIODevice::ReadOnly) ? messages.readAll().split('\n') : QByteArrayList()) {
            const QVariantMap message = QJsonDocument::fromJson(line).toVariant().toMap();
            if (!message.isEmpty())
                sent << message["rcpt_tos"].toStringList().join(',') + " | "
                        + message["headers"].toMap()["Subject"].toStringList().join(',') + " | "
                        + message["body"].toString().trimmed();
        }
        const QString expected
            = QStringLiteral("a@example.com,b@example.com | Port Check %1 on device %2 | Port %3 on device %2 is %4.")
                  .arg(passed ? "Passed" : "Failed", address, QString::number(probed), result);
        QCOMPARE(sent, row.mailed ? QStringList { expected } : QStringList());
        window.find<QLineEdit>("txtDeviceName")->setText("edited"); // takes the result away, either light too
        QVERIFY(window.find<QLabel>("lblResult")->text().isEmpty() && window.find("imgGreen")->isHidden()
            && window.find("imgRed")->isHidden());
    }

    // Through 2 s on a blackholed port, a silent FTP or mail server (its bound cut to 2 s), or F2's hanging type
    // query, a 50 ms timer ticks; Escape ends it at once, the fields stored after a check, no follow-up run.
    void staysAliveAndCloses()
    {
        qputenv("OSTREL_TEST_MAIL_TIME_SCALE", "5");
        for (const QString wait : { "TCP", "FTP", "mail", "help page" })
            for (const int closeAt : { -1, 500 }) {
                EventWait::resetAbandoned();
                QFile::remove(m_settings.file);
                const bool ftp = wait == "FTP", help = wait == "help page", mail = wait == "mail";
                const QString address = QString::fromStdString(ftp ? privateLoopbackAddress() : "127.0.0.1");
                LoopbackPort listener = ftp ? LoopbackPort::open(address.toStdString(), 21)
                    : mail                  ? LoopbackPort::open()
                                            : LoopbackPort::blackholed();
                const LoopbackPort silentMailServer = LoopbackPort::open();
                const QString commandOn = mail ? "" : ftp ? "OK" : "N/A";
                CheckWindow window(address, listener.port(), ftp ? 0 : 3, commandOn, {}, mail ? "OK" : "",
                    "127.0.0.1:" + QString::number(silentMailServer.port()));
                QString boxText;
                ModalWatch watch([&boxText](QWidget *box) {
                    boxText = static_cast<QMessageBox *>(box)->text();
                    box->close();
                });
                window.find<QScrollBar>("HScroll1")->setValue(2);
                int ticks = 0;
                QTimer ticker;
                ticker.callOnTimeout([&ticks] { ++ticks; });
                ticker.start(50);
                if (closeAt >= 0) // the key goes to the field that has the focus, as the user's would
                    QTimer::singleShot(
                        closeAt, &window, [&] { QTest::keyClick(window.focusWidget(), Qt::Key_Escape); });
                else // a second click or F2 during the wait is no second check or query
                    QTimer::singleShot(500, &window, [&window, help] {
                        help ? QTest::keyClick(window.find("txtDeviceName"), Qt::Key_F2) : window.click("btnCheck");
                    });
                QElapsedTimer clock;
                clock.start();
                window.find("txtDeviceName")->setFocus();
                help ? QTest::keyClick(window.find("txtDeviceName"), Qt::Key_F2) : window.click("btnCheck");
                const QString what = QStringLiteral("%1: %2 ticks in %3 ms").arg(wait).arg(ticks).arg(clock.elapsed());
                if (closeAt < 0) {
                    QVERIFY2(ticks >= 20 && clock.elapsed() >= 1900, qPrintable(what));
                    QVERIFY(help || mail || !window.told(20000).isEmpty());
                    QCOMPARE(boxText,
                        mail ? "Error sending SMTP email.\n127.0.0.1:" + QString::number(silentMailServer.port())
                                + " was not ready within 2 s (waiting at greeting)"
                             : QString());
                    int connections = 0; // the probe's and the logon's
                    while (ftp && listener.accept(100) >= 0)
                        ++connections;
                    QCOMPARE(connections, ftp ? 2 : 0);
                    QCOMPARE(QFileInfo(m_desktop.filePath("xdg-mime.asked")).size(), help ? 1 : 0);
                } else {
                    QVERIFY2(clock.elapsed() <= closeAt + 500 && ticks >= 7, qPrintable(what));
                    QVERIFY(!window.isVisible() && window.told(500).isEmpty());
                    QCOMPARE(m_settings.stored().value("DeviceName"), help ? QString() : address);
                }
            }
    }
};

QTEST_MAIN(TestCheckAction)
#include "tst_checkaction.moc"
