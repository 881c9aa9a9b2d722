// The window's fields survive from one interactive run to the next, once a
// check has been started, and nothing else ever touches the stored values.
#include "LoopbackPeers.h"
#include "ProgramFolder.h"
#include "TemporarySettings.h"
#include "WindowTesting.h"
#include "shell/MessageBox.h"
#include "window/frmOstrel.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QSettings>
#include <QTest>
#include <memory>

using WindowTesting::control;
using Texts = QMap<QString, QString>;

namespace {

// What the user sees of every stored field, and of the rules that follow them.
Texts fieldsOf(const frmOstrel &form)
{
    const auto widget = [&form](const QString &name) { return control(form, name); };
    const auto selected = [&form](const QString &group, int count, const QStringList &names) {
        QStringList chosen;
        for (int index = 0; index < count; ++index) {
            if (control<QRadioButton>(form, group + QString::number(index))->isChecked())
                chosen << names.value(index, QString::number(index));
        }
        return chosen.join(QLatin1Char('+'));
    };
    Texts shown;
    const char *const textFields[][2] = {{"DeviceName", "txtDeviceName"}, {"Port", "txtPort"},
                                         {"EXEName", "txtEXE"},           {"Argument", "txtArg"},
                                         {"MailAddr", "txtMail"},         {"MailServer", "txtMailServer"}};
    for (const auto &[key, name] : textFields)
        shown[key] = control<QLineEdit>(form, QLatin1String(name))->text();
    shown["PortType"] = selected("optCheck", 4, {});
    shown["EXEOK"] = selected("optEXE", 2, {"OK", "N/A"});
    shown["MAILOK"] = selected("optMail", 2, {"OK", "N/A"});
    for (const auto &[key, name] : {std::pair{"FTPLogon", "chkLogon"}, {"EXE", "chkEXE"}, {"Mail", "chkMail"}})
        shown[key] = QStringList{"cleared", "greyed", "ticked"}.at(control<QCheckBox>(form, name)->checkState());
    shown["Timeout"] = QString::number(control<QScrollBar>(form, QStringLiteral("HScroll1"))->value());
    shown["lblTimeout"] = control<QLabel>(form, QStringLiteral("lblTimeout"))->text();
    shown["cmbPorts"] = control<QComboBox>(form, QStringLiteral("cmbPorts"))->currentText();
    for (const char *name : {"btnCheck", "txtEXE", "btnBrowse", "txtMail"})
        shown[name] = widget(name)->isEnabled() ? "enabled" : "disabled";
    return shown;
}

// The window as it opens with nothing stored.
const Texts kCreated{
    {"DeviceName", ""},        {"Port", "21"},          {"EXEName", ""},          {"Argument", ""},
    {"MailAddr", ""},          {"MailServer", ""},      {"PortType", "3"},        {"EXEOK", "N/A"},
    {"MAILOK", "N/A"},         {"FTPLogon", "cleared"}, {"EXE", "cleared"},       {"Mail", "cleared"},
    {"Timeout", "15"},         {"lblTimeout", "Timeout (sec) : 15"},              {"cmbPorts", ""},
    {"btnCheck", "enabled"},   {"txtEXE", "disabled"},  {"btnBrowse", "disabled"}, {"txtMail", "disabled"},
};

Texts merged(Texts base, const Texts &changes)
{
    for (auto change = changes.begin(); change != changes.end(); ++change)
        base.insert(change.key(), change.value());
    return base;
}

QStringList entriesOf(const QString &folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
}

} // namespace

class TestSettings : public QObject
{
    Q_OBJECT
private slots:
    void init() { m_settings = std::make_unique<TemporarySettings>(); }
    void cleanup();

    void storedValuesArriveAsTheUsersOwn_data();
    void storedValuesArriveAsTheUsersOwn();
    void greyedBoxTicksOnFirstClick();
    void handEditedFile();
    void nothingWrittenWithoutCheck();
    void oneCheckWritesEveryKey();
    void refusedStoreIsSkipped();
    void unreadableFileIsLeftAlone();
    void unattendedRunLeavesStoreAlone();

private:
    frmOstrel &open()
    {
        m_form = std::make_unique<frmOstrel>();
        m_form->Form_Load();
        return *m_form;
    }
    // A check on the empty device name, as the window opens: it ends at once
    // with the invalid-address message.
    void startCheck()
    {
        MessageBox::setNextAnswer(QMessageBox::Ok);
        control<QPushButton>(*m_form, QStringLiteral("btnCheck"))->click();
        QCOMPARE(MessageBox::takeShown().size(), 1);
    }
    void close()
    {
        QVERIFY(m_form->close());
        QVERIFY(!m_form->isVisible());
    }
    void store(const Texts &texts)
    {
        QSettings settings(m_settings->filePath(), QSettings::IniFormat);
        for (auto entry = texts.begin(); entry != texts.end(); ++entry)
            settings.setValue(QStringLiteral("Settings/") + entry.key(), entry.value());
        settings.sync();
        QCOMPARE(settings.status(), QSettings::NoError);
    }

    std::unique_ptr<TemporarySettings> m_settings;
    std::unique_ptr<frmOstrel> m_form;
};

void TestSettings::cleanup()
{
    m_form.reset();
    MessageBox::takeShown();
    m_settings.reset();
}

void TestSettings::storedValuesArriveAsTheUsersOwn_data()
{
    QTest::addColumn<Texts>("stored");
    QTest::addColumn<Texts>("shown");

    const Texts texts{{"DeviceName", "fileserver1"}, {"Port", "8080"}, {"EXEName", "/opt/my tools/alert.sh"},
                      {"Argument", "\"two words\" plain"}, {"MailAddr", "a@example.com, b@example.com"},
                      {"MailServer", "mail.example.com"}, {"PortType", "2"}, {"Timeout", "45"}};
    QTest::newRow("nothing stored") << Texts{} << Texts{};
    QTest::newRow("every key")
        << merged(texts, {{"EXEOK", "True"}, {"MAILOK", "True"}, {"FTPLogon", "1"}, {"EXE", "1"}, {"Mail", "1"}})
        << merged(texts, {{"EXEOK", "OK"}, {"MAILOK", "OK"}, {"FTPLogon", "ticked"}, {"EXE", "ticked"},
                          {"Mail", "ticked"}, {"lblTimeout", "Timeout (sec) : 45"}, {"cmbPorts", "Other!"},
                          {"txtEXE", "enabled"}, {"btnBrowse", "enabled"}, {"txtMail", "enabled"}});
    QTest::newRow("blank device name disables the check")
        << Texts{{"DeviceName", "   "}} << Texts{{"DeviceName", "   "}, {"btnCheck", "disabled"}};

    // The port field's own rule runs, and the stored kind still wins.
    QTest::newRow("PortType 1, Port 80") << Texts{{"PortType", "1"}, {"Port", "80"}}
                                         << Texts{{"PortType", "1"}, {"Port", "80"}, {"cmbPorts", "HTTP"}};
    QTest::newRow("Port 80 alone") << Texts{{"Port", "80"}} << Texts{{"Port", "80"}, {"cmbPorts", "HTTP"}};
    QTest::newRow("PortType 1.5 with blanks rounds to 2") << Texts{{"PortType", " 1.5 "}} << Texts{{"PortType", "2"}};

    // A value that cannot be applied skips its own key only.
    const Texts others{{"DeviceName", "host"}, {"Timeout", "20"}, {"EXE", "1"}, {"MAILOK", "True"}};
    const Texts othersShown{{"DeviceName", "host"}, {"Timeout", "20"}, {"lblTimeout", "Timeout (sec) : 20"},
                            {"EXE", "ticked"}, {"txtEXE", "enabled"}, {"btnBrowse", "enabled"}, {"MAILOK", "OK"}};
    for (const char *portType : {"7", "-1", "FTP"}) {
        QTest::addRow("PortType \"%s\", the rest loads", portType)
            << merged(others, {{"PortType", portType}}) << othersShown;
    }

    for (const char *timeout : {"0", "61", "abc", "0.5"})
        QTest::addRow("Timeout \"%s\"", timeout) << Texts{{"Timeout", timeout}} << Texts{};
    for (const char *timeout : {"30", "60"}) {
        QTest::addRow("Timeout %s", timeout)
            << Texts{{"Timeout", timeout}}
            << Texts{{"Timeout", timeout}, {"lblTimeout", QStringLiteral("Timeout (sec) : ") + timeout}};
    }

    // Truth words in any case with blanks around, or numbers: anything else leaves N/A.
    for (const char *truth : {"true", " TRUE ", "-1"})
        QTest::addRow("EXEOK \"%s\"", truth) << Texts{{"EXEOK", truth}} << Texts{{"EXEOK", "OK"}};
    for (const char *notTrue : {"FALSE", "0.0", "Truer", "maybe"})
        QTest::addRow("EXEOK \"%s\"", notTrue) << Texts{{"EXEOK", notTrue}} << Texts{};

    QTest::newRow("FTPLogon 2") << Texts{{"FTPLogon", "2"}} << Texts{{"FTPLogon", "greyed"}};
    QTest::newRow("EXE 2 enables the command row")
        << Texts{{"EXE", "2"}} << Texts{{"EXE", "greyed"}, {"txtEXE", "enabled"}, {"btnBrowse", "enabled"}};
    QTest::newRow("Mail 3") << Texts{{"Mail", "3"}} << Texts{};
}

void TestSettings::storedValuesArriveAsTheUsersOwn()
{
    QFETCH(Texts, stored);
    QFETCH(Texts, shown);

    store(stored);
    QCOMPARE(fieldsOf(open()), merged(kCreated, shown));
    QVERIFY(m_form->isVisible());
}

// The user's clicks tick and clear a box that a stored 2 greyed; they never grey it again.
void TestSettings::greyedBoxTicksOnFirstClick()
{
    store({{"EXE", "2"}});
    auto *box = control<QCheckBox>(open(), QStringLiteral("chkEXE"));
    for (const Qt::CheckState state : {Qt::Checked, Qt::Unchecked, Qt::Checked}) {
        QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(5, box->height() / 2));
        QCOMPARE(box->checkState(), state);
        QCOMPARE(control(*m_form, QStringLiteral("txtEXE"))->isEnabled(), state != Qt::Unchecked);
    }
}

void TestSettings::handEditedFile()
{
    QVERIFY(m_settings->writeFile("[Settings]\nMailAddr=a@example.com, b@example.com\nNote=not ours\n"
                                  "\n[Other]\nkeep=1\n"));
    // Unquoted commas still give the recipients, one comma apart.
    QCOMPARE(fieldsOf(open()).value("MailAddr"), QStringLiteral("a@example.com,b@example.com"));
    startCheck();
    close();
    // What is not ours stays in the file.
    QSettings file(m_settings->filePath(), QSettings::IniFormat);
    QCOMPARE(file.value(QStringLiteral("Other/keep")).toString(), QStringLiteral("1"));
    QCOMPARE(file.value(QStringLiteral("Settings/Note")).toString(), QStringLiteral("not ours"));
    QCOMPARE(m_settings->storedTexts().value("MailAddr"), QStringLiteral("a@example.com,b@example.com"));
}

void TestSettings::nothingWrittenWithoutCheck()
{
    // Nothing stored yet: the folder stays empty.
    open();
    QTest::keyClicks(control(*m_form, QStringLiteral("txtDeviceName")), QStringLiteral("edited"));
    control<QRadioButton>(*m_form, QStringLiteral("optCheck1"))->click();
    close();
    QCOMPARE(entriesOf(m_settings->folder()), QStringList());

    // Values stored by an earlier run stay as they were, to the byte.
    store({{"DeviceName", "stored"}, {"Timeout", "30"}, {"EXE", "1"}});
    const auto before = m_settings->bytes();
    open();
    QTest::keyClicks(control(*m_form, QStringLiteral("txtDeviceName")), QStringLiteral("edited"));
    control<QScrollBar>(*m_form, QStringLiteral("HScroll1"))->setValue(50);
    control<QCheckBox>(*m_form, QStringLiteral("chkMail"))->click();
    close();
    QCOMPARE(m_settings->bytes(), before);
    QCOMPARE(fieldsOf(open()).value("DeviceName"), QStringLiteral("stored"));
}

void TestSettings::oneCheckWritesEveryKey()
{
    open();
    startCheck();
    close();
    QCOMPARE(m_settings->storedTexts(),
             (Texts{{"DeviceName", ""}, {"Port", "21"}, {"EXEName", ""}, {"Argument", ""}, {"MailAddr", ""},
                    {"MailServer", ""}, {"PortType", "3"}, {"EXEOK", "False"}, {"MAILOK", "False"},
                    {"FTPLogon", "0"}, {"EXE", "0"}, {"Mail", "0"}, {"Timeout", "15"}}));

    // The fields as they are at closing, changed after the check as well, and
    // back as they were in the next run; a greyed box is stored as 2 and the
    // triggers as words.
    store({{"Mail", "2"}});
    open();
    startCheck();
    const Texts typed{{"txtDeviceName", " host name "},
                      {"txtPort", "007"},
                      {"txtEXE", "/opt/my tools/a=b;c.sh"},
                      {"txtArg", "\"two words\" \\ back, slash @x"},
                      {"txtMail", "@a@example.com, b@example.com,"},
                      {"txtMailServer", "[mail]"}};
    for (auto field = typed.begin(); field != typed.end(); ++field)
        control<QLineEdit>(*m_form, field.key())->setText(field.value());
    for (const char *name : {"optCheck0", "chkLogon", "chkEXE", "optEXE0"})
        control<QAbstractButton>(*m_form, QLatin1String(name))->click();
    control<QScrollBar>(*m_form, QStringLiteral("HScroll1"))->setValue(7);
    const Texts before = fieldsOf(*m_form);
    close();
    QCOMPARE(m_settings->storedTexts(),
             (Texts{{"DeviceName", " host name "}, {"Port", "007"}, {"EXEName", "/opt/my tools/a=b;c.sh"},
                    {"Argument", "\"two words\" \\ back, slash @x"}, {"MailAddr", "@a@example.com, b@example.com,"},
                    {"MailServer", "[mail]"}, {"PortType", "0"}, {"EXEOK", "True"}, {"MAILOK", "False"},
                    {"FTPLogon", "1"}, {"EXE", "1"}, {"Mail", "2"}, {"Timeout", "7"}}));
    QCOMPARE(fieldsOf(open()), before);
}

void TestSettings::refusedStoreIsSkipped()
{
    // The store's file is a folder: nothing can be read or written there.
    QVERIFY(QDir().mkpath(m_settings->filePath()));
    QCOMPARE(fieldsOf(open()), kCreated);
    startCheck();
    close();
    QVERIFY(QFileInfo(m_settings->filePath()).isDir());
    QCOMPARE(entriesOf(m_settings->filePath()), QStringList());
}

void TestSettings::unreadableFileIsLeftAlone()
{
    // A hand edit gone wrong: writing would keep only what could be read.
    const QByteArray broken = "[Settings\nDeviceName=kept\n[Other]\nkeep=1\n";
    QVERIFY(m_settings->writeFile(broken));
    QCOMPARE(fieldsOf(open()), kCreated);
    startCheck();
    QTest::keyClicks(control(*m_form, QStringLiteral("txtDeviceName")), QStringLiteral("new"));
    close();
    QCOMPARE(m_settings->bytes(), std::optional<QByteArray>(broken));
}

void TestSettings::unattendedRunLeavesStoreAlone()
{
    store({{"DeviceName", "stored"}, {"Timeout", "30"}});
    const auto before = m_settings->bytes();
    const QDateTime modified = QFileInfo(m_settings->filePath()).lastModified();
    const QStringList entries = entriesOf(m_settings->folder());

    const LoopbackPort port = LoopbackPort::open();
    ProgramFolder program;
    QProcessEnvironment environment = ProgramFolder::headless();
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), m_settings->folder());
    QVERIFY(program.run({QStringLiteral("127.0.0.1,%1,2,PASS").arg(port.port())}, 60000, environment).finished);
    QCOMPARE(program.logMessages(QStringLiteral("success.log")).value_or(QStringList()).size(), 1);

    QCOMPARE(m_settings->bytes(), before);
    QCOMPARE(QFileInfo(m_settings->filePath()).lastModified(), modified);
    QCOMPARE(entriesOf(m_settings->folder()), entries);
}

QTEST_MAIN(TestSettings)
#include "tst_settings.moc"
