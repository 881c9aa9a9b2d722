// The window's fields survive from one interactive run to the next, once a
// check has been started, from the user's own file alone; nothing else ever
// touches the stored values.
#include "LoopbackPeers.h"
#include "ProgramFolder.h"
#include "TemporarySettings.h"
#include "WindowTesting.h"
#include "shell/MessageBox.h"
#include "window/frmOstrel.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QSettings>
#include <QTest>

using Texts = QMap<QString, QString>;

namespace {

// What the user sees of every stored field, and of the rules that follow them.
Texts fieldsOf(const frmOstrel &form)
{
    const auto find = [&form](const QString &name) { return WindowTesting::control(form, name); };
    Texts shown;
    for (QLineEdit *field : form.findChildren<QLineEdit *>())
        shown[field->objectName()] = field->text();
    for (QAbstractButton *box : form.findChildren<QAbstractButton *>()) {
        if (qobject_cast<QRadioButton *>(box) && box->isChecked())
            shown[box->objectName().chopped(1)] = box->text().trimmed();
        if (auto *tick = qobject_cast<QCheckBox *>(box))
            shown[box->objectName()] = QStringList{"cleared", "greyed", "ticked"}.at(tick->checkState());
    }
    shown["lblTimeout"] = static_cast<QLabel *>(find("lblTimeout"))->text();
    shown["cmbPorts"] = static_cast<QComboBox *>(find("cmbPorts"))->currentText();
    for (const char *name : {"btnCheck", "btnBrowse", "txtMail"})
        shown[name + QStringLiteral(" on")] = find(name)->isEnabled() ? "yes" : "no";
    return shown;
}

Texts merged(Texts base, const Texts &changes)
{
    base.insert(changes);
    return base;
}

} // namespace

class TestSettings : public QObject
{
    Q_OBJECT
    std::unique_ptr<TemporarySettings> m_settings;
    std::unique_ptr<frmOstrel> m_form;
    Texts m_created; // the window as it opens with nothing stored

    frmOstrel &open()
    {
        m_form = std::make_unique<frmOstrel>();
        m_form->Form_Load();
        return *m_form;
    }
    // A check on the device name as it stands, ended at once by a message.
    void checkAndClose(const QString &device = QString())
    {
        WindowTesting::control<QLineEdit>(*m_form, "txtDeviceName")->setText(device);
        MessageBox::setNextAnswer(QMessageBox::Ok);
        WindowTesting::control<QPushButton>(*m_form, "btnCheck")->click();
        QCOMPARE(MessageBox::takeShown().size(), 1);
        QVERIFY(m_form->close());
    }
    void store(const Texts &texts)
    {
        QSettings settings(m_settings->filePath(), QSettings::IniFormat);
        for (auto entry = texts.begin(); entry != texts.end(); ++entry)
            settings.setValue(QStringLiteral("Settings/") + entry.key(), entry.value());
    }

private slots:
    void initTestCase()
    {
        const TemporarySettings nothing;
        m_created = fieldsOf(open());
        QCOMPARE(m_created.value("txtPort"), QStringLiteral("21"));
        QCOMPARE(m_created.value("lblTimeout"), QStringLiteral("Timeout (sec) : 15"));
    }
    void init() { m_settings = std::make_unique<TemporarySettings>(); }
    void cleanup()
    {
        m_form.reset();
        MessageBox::takeShown();
        m_settings.reset();
    }

    void storedValuesArriveAsTheUsersOwn_data()
    {
        QTest::addColumn<Texts>("stored");
        QTest::addColumn<Texts>("shown"); // what differs from the window as created
        QTest::newRow("texts, kind, triggers, boxes, timeout")
            << Texts{{"DeviceName", "fileserver1"}, {"Port", "8080"}, {"EXEName", "/opt/my tools/a.sh"},
                     {"MailAddr", "a@example.com"}, {"PortType", "2"}, {"EXEOK", "True"}, {"MAILOK", "true"},
                     {"FTPLogon", "1"}, {"EXE", "1"}, {"Mail", "1"}, {"Timeout", "45"}}
            << Texts{{"txtDeviceName", "fileserver1"}, {"txtPort", "8080"}, {"txtEXE", "/opt/my tools/a.sh"},
                     {"txtMail", "a@example.com"}, {"optCheck", "SMTP"}, {"optEXE", "OK"}, {"optMail", "OK"},
                     {"chkLogon", "ticked"}, {"chkEXE", "ticked"}, {"chkMail", "ticked"},
                     {"lblTimeout", "Timeout (sec) : 45"}, {"cmbPorts", "Other!"}, {"btnBrowse on", "yes"},
                     {"txtMail on", "yes"}};
        QTest::newRow("blank device name") << Texts{{"DeviceName", "  "}} << Texts{{"txtDeviceName", "  "}, {"btnCheck on", "no"}};
        // The port field's own rule runs, and the stored kind still wins.
        QTest::newRow("PortType 1, Port 80") << Texts{{"PortType", "1"}, {"Port", "80"}}
                                             << Texts{{"optCheck", "Ping/Echo"}, {"txtPort", "80"}, {"cmbPorts", "HTTP"}};
        QTest::newRow("PortType 1.5 with blanks") << Texts{{"PortType", " 1.5 "}} << Texts{{"optCheck", "SMTP"}};
        // A value that cannot be applied skips its own key only.
        QTest::newRow("PortType 7, the rest loads") << Texts{{"PortType", "7"}, {"Timeout", "20"}}
                                                    << Texts{{"lblTimeout", "Timeout (sec) : 20"}};
        QTest::newRow("Timeout 61, EXEOK maybe, Mail 3")
            << Texts{{"Timeout", "61"}, {"EXEOK", "maybe"}, {"Mail", "3"}, {"DeviceName", "kept"}}
            << Texts{{"txtDeviceName", "kept"}};
        QTest::newRow("EXE 2 greys and enables") << Texts{{"EXE", "2"}}
                                                 << Texts{{"chkEXE", "greyed"}, {"btnBrowse on", "yes"}};
        QTest::newRow("unquoted commas") << Texts{{"MailAddr", "a@x, b@y"}} << Texts{{"txtMail", "a@x,b@y"}};
        const QString longText(40000, QLatin1Char('n'));
        QTest::newRow("40,000 characters") << Texts{{"Argument", longText}} << Texts{{"txtArg", longText}};
    }
    void storedValuesArriveAsTheUsersOwn()
    {
        QFETCH(Texts, stored);
        QFETCH(Texts, shown);
        if (QTest::currentDataTag() == QByteArray("unquoted commas"))
            QVERIFY(m_settings->writeFile("[Settings]\nMailAddr=a@x, b@y\n"));
        else
            store(stored);
        QCOMPARE(fieldsOf(open()), merged(m_created, shown));
        if (stored.value("EXE") == QLatin1String("2")) {
            // A greyed box ticks on the first click and never greys again.
            auto *box = WindowTesting::control<QCheckBox>(*m_form, "chkEXE");
            QList<int> states;
            for (int click = 0; click < 3; ++click) {
                QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(5, box->height() / 2));
                states << box->checkState();
            }
            QCOMPARE(states, (QList<int>{Qt::Checked, Qt::Unchecked, Qt::Checked}));
        }
    }

    // The fields as they are at closing, in full and back the same next time;
    // what is not ours stays in the file.
    void oneCheckStoresEveryKey()
    {
        QVERIFY(m_settings->writeFile("[Settings]\nNote=not ours\nMail=2\n\n[Other]\nkeep=1\n"));
        open();
        const QString longText(40000, QLatin1Char('x'));
        const Texts typed{{"txtPort", "007"}, {"txtEXE", "/opt/my tools/a=b;c.sh"},
                          {"txtArg", longText}, {"txtMail", "@a@example.com, b@example.com,"},
                          {"txtMailServer", "[mail]"}};
        for (auto field = typed.begin(); field != typed.end(); ++field)
            WindowTesting::control<QLineEdit>(*m_form, field.key())->setText(field.value());
        for (const char *name : {"optCheck0", "chkLogon", "chkEXE", "optEXE0"})
            WindowTesting::control<QAbstractButton>(*m_form, QLatin1String(name))->click();
        WindowTesting::control<QScrollBar>(*m_form, "HScroll1")->setValue(7);
        checkAndClose(QStringLiteral(" host name "));
        QCOMPARE(m_settings->storedTexts(),
                 (Texts{{"DeviceName", " host name "}, {"Port", "007"}, {"EXEName", "/opt/my tools/a=b;c.sh"},
                        {"Argument", longText}, {"MailAddr", "@a@example.com, b@example.com,"},
                        {"MailServer", "[mail]"}, {"PortType", "0"}, {"EXEOK", "True"}, {"MAILOK", "False"},
                        {"FTPLogon", "1"}, {"EXE", "1"}, {"Mail", "2"}, {"Timeout", "7"}, {"Note", "not ours"}}));
        QSettings file(m_settings->filePath(), QSettings::IniFormat);
        QCOMPARE(file.value(QStringLiteral("Other/keep")).toString(), QStringLiteral("1"));
        const Texts before = fieldsOf(*m_form);
        QCOMPARE(fieldsOf(open()), before);
    }

    // Edits without a check leave the file to the byte, also when none exists.
    void nothingStoredWithoutCheck()
    {
        for (bool earlier : {false, true}) {
            if (earlier)
                store({{"DeviceName", "stored"}, {"Timeout", "30"}});
            const auto before = m_settings->bytes();
            open();
            QTest::keyClicks(WindowTesting::control(*m_form, "txtDeviceName"), QStringLiteral("edited"));
            WindowTesting::control<QCheckBox>(*m_form, "chkMail")->click();
            QVERIFY(m_form->close());
            QCOMPARE(m_settings->bytes(), before);
        }
    }

    void filesLeftAlone_data()
    {
        QTest::addColumn<QString>("name");  // the file written, in the settings folder
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<bool>("ownFileUsed");
        // A hand edit gone wrong: writing would keep only what could be read.
        QTest::newRow("own file broken") << "Ostrel/Ostrel.conf" << QByteArray("[Settings\nDeviceName=x\n") << false;
        QTest::newRow("own file is a folder") << "Ostrel/Ostrel.conf/x" << QByteArray() << false;
        // Qt's fallback files are none of ours: a broken one changes nothing.
        QTest::newRow("broken fallback") << "Ostrel.conf" << QByteArray("[Settings\nDeviceName=x\n") << true;
        QTest::newRow("fallback with values") << "Ostrel.conf" << QByteArray("[Settings]\nTimeout=33\n") << true;
    }
    void filesLeftAlone()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, content);
        QFETCH(bool, ownFileUsed);
        QVERIFY(m_settings->writeFile(content, name));
        QTemporaryDir system; // where Qt looks for system-wide fallbacks
        QSettings::setPath(QSettings::NativeFormat, QSettings::SystemScope, system.path());
        for (const char *fallback : {"/Ostrel.conf", "/Ostrel/Ostrel.conf"}) {
            QVERIFY(QDir().mkpath(system.filePath(QStringLiteral("Ostrel"))));
            QFile file(system.path() + QLatin1String(fallback));
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write("[Settings\nPortType=1\n") > 0);
        }
        if (ownFileUsed)
            store({{"DeviceName", "mine"}});
        QCOMPARE(fieldsOf(open()), merged(m_created, ownFileUsed ? Texts{{"txtDeviceName", "mine"}} : Texts{}));
        checkAndClose(QStringLiteral("new"));
        QCOMPARE(m_settings->bytes(name), std::optional<QByteArray>(content));
        if (ownFileUsed)
            QCOMPARE(m_settings->storedTexts().value("DeviceName"), QStringLiteral("new"));
    }

    void unattendedRunLeavesStoreAlone()
    {
        store({{"DeviceName", "stored"}, {"Timeout", "30"}});
        const auto before = m_settings->bytes();
        const QDateTime modified = QFileInfo(m_settings->filePath()).lastModified();
        const LoopbackPort port = LoopbackPort::open();
        ProgramFolder program;
        QProcessEnvironment environment = ProgramFolder::headless();
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), m_settings->folder());
        QVERIFY(program.run({QStringLiteral("127.0.0.1,%1,2,PASS").arg(port.port())}, 60000, environment).finished);
        QCOMPARE(program.logMessages(QStringLiteral("success.log")).value_or(QStringList()).size(), 1);
        QCOMPARE(m_settings->bytes(), before);
        QCOMPARE(QFileInfo(m_settings->filePath()).lastModified(), modified);
    }
};

WINDOW_TEST(TestSettings)
#include "tst_settings.moc"
