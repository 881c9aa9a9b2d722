// The window's fields survive from one interactive run to the next, once a
// check has been started, and nothing else ever touches the stored values.
#include "LoopbackPeers.h"
#include "ModalWatch.h"
#include "ProgramFolder.h"
#include "TemporarySettings.h"
#include "WindowTesting.h"
#include "shell/MessageBox.h"
#include "window/SettingsStore.h"
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
#include <QSignalSpy>
#include <QTest>
#include <memory>

using WindowTesting::control;
using Texts = QMap<QString, QString>;

namespace {

// What the user sees of every stored field, and of the rules that follow them.
Texts fieldsOf(const frmOstrel &form)
{
    const auto text = [&form](const char *name) { return control<QLineEdit>(form, QLatin1String(name))->text(); };
    const auto selected = [&form](const char *group, int count) {
        QStringList chosen;
        for (int index = 0; index < count; ++index) {
            if (control<QRadioButton>(form, QLatin1String(group) + QString::number(index))->isChecked())
                chosen << QString::number(index);
        }
        return chosen.join(QLatin1Char('+'));
    };
    const auto trigger = [&selected](const char *group) {
        const QString index = selected(group, 2);
        return index == QLatin1String("0") ? QStringLiteral("OK") : index == QLatin1String("1") ? QStringLiteral("N/A") : index;
    };
    const auto box = [&form](const char *name) {
        switch (control<QCheckBox>(form, QLatin1String(name))->checkState()) {
        case Qt::Checked:
            return QStringLiteral("ticked");
        case Qt::PartiallyChecked:
            return QStringLiteral("greyed");
        default:
            return QStringLiteral("cleared");
        }
    };
    const auto enabled = [&form](const char *name) {
        return control(form, QLatin1String(name))->isEnabled() ? QStringLiteral("enabled") : QStringLiteral("disabled");
    };
    return {
        {"DeviceName", text("txtDeviceName")},
        {"Port", text("txtPort")},
        {"EXEName", text("txtEXE")},
        {"Argument", text("txtArg")},
        {"MailAddr", text("txtMail")},
        {"MailServer", text("txtMailServer")},
        {"PortType", selected("optCheck", 4)},
        {"EXEOK", trigger("optEXE")},
        {"MAILOK", trigger("optMail")},
        {"FTPLogon", box("chkLogon")},
        {"EXE", box("chkEXE")},
        {"Mail", box("chkMail")},
        {"Timeout", QString::number(control<QScrollBar>(form, QStringLiteral("HScroll1"))->value())},
        {"lblTimeout", control<QLabel>(form, QStringLiteral("lblTimeout"))->text()},
        {"cmbPorts", control<QComboBox>(form, QStringLiteral("cmbPorts"))->currentText()},
        {"btnCheck", enabled("btnCheck")},
        {"txtEXE", enabled("txtEXE")},
        {"btnBrowse", enabled("btnBrowse")},
        {"txtMail", enabled("txtMail")},
    };
}

// The window as it opens with nothing stored.
const Texts kCreated{
    {"DeviceName", ""},        {"Port", "21"},         {"EXEName", ""},
    {"Argument", ""},          {"MailAddr", ""},       {"MailServer", ""},
    {"PortType", "3"},         {"EXEOK", "N/A"},       {"MAILOK", "N/A"},
    {"FTPLogon", "cleared"},   {"EXE", "cleared"},     {"Mail", "cleared"},
    {"Timeout", "15"},         {"lblTimeout", "Timeout (sec) : 15"},
    {"cmbPorts", ""},          {"btnCheck", "enabled"}, {"txtEXE", "disabled"},
    {"btnBrowse", "disabled"}, {"txtMail", "disabled"},
};

Texts merged(Texts base, const Texts &changes)
{
    for (auto change = changes.begin(); change != changes.end(); ++change)
        base.insert(change.key(), change.value());
    return base;
}

bool storeTexts(const QString &fileName, const Texts &texts)
{
    QSettings settings(fileName, QSettings::IniFormat);
    settings.beginGroup(QStringLiteral("Settings"));
    for (auto entry = texts.begin(); entry != texts.end(); ++entry)
        settings.setValue(entry.key(), entry.value());
    settings.sync();
    return settings.status() == QSettings::NoError;
}

} // namespace

class TestSettings : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void storedValuesArriveAsTheUsersOwn_data();
    void storedValuesArriveAsTheUsersOwn();
    void greyedBoxTicksOnFirstClick();
    void handEditedFile();

    void nothingWrittenWithoutCheck();
    void oneCheckWritesEveryKey();
    void editedFieldsComeBackExactly();
    void refusedStoreIsSkipped();
    void unreadableFileIsLeftAlone();

    void truthValues_data();
    void truthValues();

    void unattendedRunLeavesStoreAlone_data();
    void unattendedRunLeavesStoreAlone();

private:
    frmOstrel &open();
    bool startCheck();
    bool close();

    std::unique_ptr<TemporarySettings> m_settings;
    std::unique_ptr<frmOstrel> m_form;
};

void TestSettings::init()
{
    m_settings = std::make_unique<TemporarySettings>();
}

void TestSettings::cleanup()
{
    m_form.reset();
    MessageBox::takeShown();
    m_settings.reset();
}

frmOstrel &TestSettings::open()
{
    m_form = std::make_unique<frmOstrel>();
    m_form->Form_Load();
    return *m_form;
}

// A click on the check button while the device name is still empty, as the
// window opens: the check ends at once, whatever it reports.
bool TestSettings::startCheck()
{
    if (!control<QLineEdit>(*m_form, QStringLiteral("txtDeviceName"))->text().isEmpty())
        return false;
    auto *check = control<QPushButton>(*m_form, QStringLiteral("btnCheck"));
    QSignalSpy clicks(check, &QPushButton::clicked);
    MessageBox::setNextAnswer(QMessageBox::Ok);
    ModalWatch unexpected([](QWidget *modal) { modal->close(); }, 200);
    check->click();
    return clicks.count() == 1;
}

bool TestSettings::close()
{
    return m_form->close() && !m_form->isVisible();
}

void TestSettings::storedValuesArriveAsTheUsersOwn_data()
{
    QTest::addColumn<Texts>("stored");
    QTest::addColumn<Texts>("shown");

    QTest::newRow("nothing stored") << Texts{} << Texts{};
    QTest::newRow("every key") << Texts{{"DeviceName", "fileserver1"}, {"Port", "8080"},
                                        {"EXEName", "/opt/my tools/alert.sh"}, {"Argument", "\"two words\" plain"},
                                        {"MailAddr", "a@example.com, b@example.com"}, {"MailServer", "mail.example.com"},
                                        {"PortType", "2"}, {"EXEOK", "True"}, {"MAILOK", "True"},
                                        {"FTPLogon", "1"}, {"EXE", "1"}, {"Mail", "1"}, {"Timeout", "45"}}
                               << Texts{{"DeviceName", "fileserver1"}, {"Port", "8080"},
                                        {"EXEName", "/opt/my tools/alert.sh"}, {"Argument", "\"two words\" plain"},
                                        {"MailAddr", "a@example.com, b@example.com"}, {"MailServer", "mail.example.com"},
                                        {"PortType", "2"}, {"EXEOK", "OK"}, {"MAILOK", "OK"},
                                        {"FTPLogon", "ticked"}, {"EXE", "ticked"}, {"Mail", "ticked"}, {"Timeout", "45"},
                                        {"lblTimeout", "Timeout (sec) : 45"}, {"cmbPorts", "Other!"},
                                        {"txtEXE", "enabled"}, {"btnBrowse", "enabled"}, {"txtMail", "enabled"}};
    QTest::newRow("blank device name disables the check")
        << Texts{{"DeviceName", "   "}} << Texts{{"DeviceName", "   "}, {"btnCheck", "disabled"}};

    // The port field's own rule runs, and the stored kind still wins.
    QTest::newRow("PortType 1, Port 80") << Texts{{"PortType", "1"}, {"Port", "80"}}
                                         << Texts{{"PortType", "1"}, {"Port", "80"}, {"cmbPorts", "HTTP"}};
    QTest::newRow("Port 80 alone") << Texts{{"Port", "80"}} << Texts{{"Port", "80"}, {"cmbPorts", "HTTP"}};
    QTest::newRow("PortType 0, Port not a number")
        << Texts{{"PortType", "0"}, {"Port", "web"}} << Texts{{"PortType", "0"}, {"Port", "web"}, {"cmbPorts", "Other!"}};
    QTest::newRow("PortType 0.5 rounds to 0") << Texts{{"PortType", "0.5"}} << Texts{{"PortType", "0"}};
    QTest::newRow("PortType 1.5 rounds to 2") << Texts{{"PortType", "1.5"}} << Texts{{"PortType", "2"}};
    QTest::newRow("PortType with blanks") << Texts{{"PortType", " 1 "}} << Texts{{"PortType", "1"}};

    // A value that cannot be applied skips its own key only.
    const Texts others{{"DeviceName", "host"}, {"Timeout", "20"}, {"EXE", "1"}, {"MAILOK", "True"}};
    const Texts othersShown{{"DeviceName", "host"}, {"Timeout", "20"}, {"lblTimeout", "Timeout (sec) : 20"},
                            {"EXE", "ticked"}, {"txtEXE", "enabled"}, {"btnBrowse", "enabled"}, {"MAILOK", "OK"}};
    for (const char *portType : {"7", "4", "-1", "FTP", "", "70000"}) {
        QTest::addRow("PortType \"%s\", the rest loads", portType)
            << merged(others, {{"PortType", portType}}) << othersShown;
    }

    for (const char *timeout : {"0", "61", "-15", "abc", "", "70000", "0.4"})
        QTest::addRow("Timeout \"%s\"", timeout) << Texts{{"Timeout", timeout}} << Texts{};
    QTest::newRow("Timeout 30") << Texts{{"Timeout", "30"}} << Texts{{"Timeout", "30"}, {"lblTimeout", "Timeout (sec) : 30"}};
    QTest::newRow("Timeout 1") << Texts{{"Timeout", "1"}} << Texts{{"Timeout", "1"}, {"lblTimeout", "Timeout (sec) : 1"}};
    QTest::newRow("Timeout 60") << Texts{{"Timeout", "60"}} << Texts{{"Timeout", "60"}, {"lblTimeout", "Timeout (sec) : 60"}};
    QTest::newRow("Timeout with blanks") << Texts{{"Timeout", " 45 "}} << Texts{{"Timeout", "45"}, {"lblTimeout", "Timeout (sec) : 45"}};
    QTest::newRow("Timeout 59.5 rounds to 60") << Texts{{"Timeout", "59.5"}} << Texts{{"Timeout", "60"}, {"lblTimeout", "Timeout (sec) : 60"}};
    QTest::newRow("Timeout 0.5 rounds to 0") << Texts{{"Timeout", "0.5"}} << Texts{};

    for (const char *truth : {"true", "TRUE", "True", " true ", "1", "-1", "0.5"})
        QTest::addRow("EXEOK \"%s\"", truth) << Texts{{"EXEOK", truth}} << Texts{{"EXEOK", "OK"}};
    for (const char *notTrue : {"False", "false", "0", "maybe", "yes", ""})
        QTest::addRow("EXEOK \"%s\"", notTrue) << Texts{{"EXEOK", notTrue}} << Texts{};
    QTest::newRow("MAILOK tRuE") << Texts{{"MAILOK", "tRuE"}} << Texts{{"MAILOK", "OK"}};

    QTest::newRow("FTPLogon 2") << Texts{{"FTPLogon", "2"}} << Texts{{"FTPLogon", "greyed"}};
    QTest::newRow("EXE 2 enables the command row")
        << Texts{{"EXE", "2"}} << Texts{{"EXE", "greyed"}, {"txtEXE", "enabled"}, {"btnBrowse", "enabled"}};
    QTest::newRow("Mail 1.5 rounds to 2") << Texts{{"Mail", "1.5"}} << Texts{{"Mail", "greyed"}, {"txtMail", "enabled"}};
    for (const char *state : {"3", "-1", "x", "0"})
        QTest::addRow("Mail \"%s\"", state) << Texts{{"Mail", state}} << Texts{};
}

void TestSettings::storedValuesArriveAsTheUsersOwn()
{
    QFETCH(Texts, stored);
    QFETCH(Texts, shown);

    if (!stored.isEmpty())
        QVERIFY(storeTexts(m_settings->filePath(), stored));
    QCOMPARE(fieldsOf(open()), merged(kCreated, shown));
    QVERIFY(m_form->isVisible());
}

void TestSettings::greyedBoxTicksOnFirstClick()
{
    QVERIFY(storeTexts(m_settings->filePath(), {{"EXE", "2"}}));
    auto *box = control<QCheckBox>(open(), QStringLiteral("chkEXE"));
    QCOMPARE(box->checkState(), Qt::PartiallyChecked);

    // The user's clicks tick and clear the box; they never grey it again.
    const Qt::CheckState expected[] = {Qt::Checked, Qt::Unchecked, Qt::Checked, Qt::Unchecked};
    for (Qt::CheckState state : expected) {
        QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(5, box->height() / 2));
        QCOMPARE(box->checkState(), state);
        QCOMPARE(control(*m_form, QStringLiteral("txtEXE"))->isEnabled(), state != Qt::Unchecked);
    }
}

void TestSettings::handEditedFile()
{
    QVERIFY(m_settings->writeFile("[Settings]\n"
                                  "MailAddr=a@example.com, b@example.com\n"
                                  "PortType=1\n"
                                  "Note=not ours\n"
                                  "\n[Other]\nkeep=1\n"));
    const Texts shown = fieldsOf(open());
    // Unquoted commas still give the recipients, one comma apart.
    QCOMPARE(shown.value("MailAddr"), QStringLiteral("a@example.com,b@example.com"));
    QCOMPARE(shown.value("PortType"), QStringLiteral("1"));

    QVERIFY(startCheck());
    QVERIFY(close());
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
    QVERIFY(close());
    QCOMPARE(QDir(m_settings->folder()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList());

    // Values stored by an earlier run stay as they were, to the byte.
    QVERIFY(storeTexts(m_settings->filePath(), {{"DeviceName", "stored"}, {"Timeout", "30"}, {"EXE", "1"}}));
    const auto before = m_settings->bytes();
    QVERIFY(before);
    open();
    QTest::keyClicks(control(*m_form, QStringLiteral("txtDeviceName")), QStringLiteral("edited"));
    control<QScrollBar>(*m_form, QStringLiteral("HScroll1"))->setValue(50);
    control<QCheckBox>(*m_form, QStringLiteral("chkMail"))->click();
    QVERIFY(close());
    QCOMPARE(m_settings->bytes(), before);
    QCOMPARE(fieldsOf(open()).value("DeviceName"), QStringLiteral("stored"));
}

void TestSettings::oneCheckWritesEveryKey()
{
    open();
    QVERIFY(startCheck());
    QVERIFY(close());
    QCOMPARE(m_settings->storedTexts(),
             (Texts{{"DeviceName", ""}, {"Port", "21"}, {"EXEName", ""}, {"Argument", ""}, {"MailAddr", ""},
                    {"MailServer", ""}, {"PortType", "3"}, {"EXEOK", "False"}, {"MAILOK", "False"},
                    {"FTPLogon", "0"}, {"EXE", "0"}, {"Mail", "0"}, {"Timeout", "15"}}));

    // The fields as they are at closing, changed after the check as well;
    // a greyed box is stored as 2 and the triggers as words.
    QVERIFY(storeTexts(m_settings->filePath(), {{"Mail", "2"}}));
    open();
    QVERIFY(startCheck());
    QTest::keyClicks(control(*m_form, QStringLiteral("txtDeviceName")), QStringLiteral("fileserver1"));
    control<QRadioButton>(*m_form, QStringLiteral("optCheck0"))->click();
    control<QCheckBox>(*m_form, QStringLiteral("chkLogon"))->click();
    control<QCheckBox>(*m_form, QStringLiteral("chkEXE"))->click();
    control<QRadioButton>(*m_form, QStringLiteral("optEXE0"))->click();
    QTest::keyClicks(control(*m_form, QStringLiteral("txtEXE")), QStringLiteral("/opt/alert.sh"));
    QTest::keyClicks(control(*m_form, QStringLiteral("txtArg")), QStringLiteral("-q"));
    QTest::keyClicks(control(*m_form, QStringLiteral("txtMail")), QStringLiteral("a@example.com"));
    QTest::keyClicks(control(*m_form, QStringLiteral("txtMailServer")), QStringLiteral("mail.example.com"));
    control<QScrollBar>(*m_form, QStringLiteral("HScroll1"))->setValue(7);
    QVERIFY(close());
    QCOMPARE(m_settings->storedTexts(),
             (Texts{{"DeviceName", "fileserver1"}, {"Port", "21"}, {"EXEName", "/opt/alert.sh"}, {"Argument", "-q"},
                    {"MailAddr", "a@example.com"}, {"MailServer", "mail.example.com"}, {"PortType", "0"},
                    {"EXEOK", "True"}, {"MAILOK", "False"}, {"FTPLogon", "1"}, {"EXE", "1"}, {"Mail", "2"},
                    {"Timeout", "7"}}));
}

void TestSettings::editedFieldsComeBackExactly()
{
    const Texts typed{{"txtDeviceName", " host name "},
                      {"txtPort", "007"},
                      {"txtEXE", "/opt/my tools/a=b;c.sh"},
                      {"txtArg", "\"two words\" \\ back, slash @x"},
                      {"txtMail", "@a@example.com, b@example.com,"},
                      {"txtMailServer", "[mail]"}};
    open();
    QVERIFY(startCheck());
    for (auto field = typed.begin(); field != typed.end(); ++field)
        control<QLineEdit>(*m_form, field.key())->setText(field.value());
    control<QCheckBox>(*m_form, QStringLiteral("chkMail"))->click();
    control<QRadioButton>(*m_form, QStringLiteral("optMail0"))->click();
    control<QRadioButton>(*m_form, QStringLiteral("optCheck2"))->click();
    const Texts before = fieldsOf(*m_form);
    QVERIFY(close());

    QCOMPARE(fieldsOf(open()), before);
}

void TestSettings::refusedStoreIsSkipped()
{
    // The store's file is a folder: nothing can be read or written there.
    QVERIFY(QDir().mkpath(m_settings->filePath()));
    QCOMPARE(fieldsOf(open()), kCreated);
    QVERIFY(startCheck());
    QVERIFY(close());
    QVERIFY(QFileInfo(m_settings->filePath()).isDir());
    QCOMPARE(QDir(m_settings->filePath()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList());
}

void TestSettings::unreadableFileIsLeftAlone()
{
    // A hand edit gone wrong: writing would keep only what could be read.
    const QByteArray broken = "[Settings\nDeviceName=kept\n[Other]\nkeep=1\n";
    QVERIFY(m_settings->writeFile(broken));
    QCOMPARE(fieldsOf(open()), kCreated);
    QVERIFY(startCheck());
    QTest::keyClicks(control(*m_form, QStringLiteral("txtDeviceName")), QStringLiteral("new"));
    QVERIFY(close());
    QCOMPARE(m_settings->bytes(), std::optional<QByteArray>(broken));
}

void TestSettings::truthValues_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("value"); // -1: not a truth value

    QTest::newRow("True") << "True" << 1;
    QTest::newRow("false lower case") << "false" << 0;
    QTest::newRow("FALSE") << "FALSE" << 0;
    QTest::newRow("blanks around") << "  True " << 1;
    QTest::newRow("zero") << "0" << 0;
    QTest::newRow("zero as a fraction") << "0.0" << 0;
    QTest::newRow("minus one") << "-1" << 1;
    QTest::newRow("exponent") << "1e3" << 1;
    QTest::newRow("tab is not a blank") << "\tTrue" << -1;
    QTest::newRow("yes") << "yes" << -1;
    QTest::newRow("Truer") << "Truer" << -1;
    QTest::newRow("empty") << "" << -1;
    QTest::newRow("too large") << "1e400" << -1;
}

void TestSettings::truthValues()
{
    QFETCH(QString, text);
    QFETCH(int, value);
    const auto truth = SettingsStore::toTruthValue(text);
    QCOMPARE(truth ? int(*truth) : -1, value);
}

void TestSettings::unattendedRunLeavesStoreAlone_data()
{
    QTest::addColumn<bool>("open");
    QTest::addColumn<QString>("tail"); // after "127.0.0.1,<port>"
    QTest::addColumn<QString>("log");

    QTest::newRow("available port") << true << ",2,PASS" << "success.log";
    QTest::newRow("refused port") << false << ",2,FAIL" << "error.log";
    QTest::newRow("incorrect sequence") << false << "" << "error.log";
}

void TestSettings::unattendedRunLeavesStoreAlone()
{
    QFETCH(bool, open);
    QFETCH(QString, tail);
    QFETCH(QString, log);

    QVERIFY(storeTexts(m_settings->filePath(), {{"DeviceName", "stored"}, {"Timeout", "30"}}));
    const auto before = m_settings->bytes();
    const QDateTime modified = QFileInfo(m_settings->filePath()).lastModified();
    const QStringList entries = QDir(m_settings->folder()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);

    LoopbackPort port = open ? LoopbackPort::open() : LoopbackPort::refused();
    ProgramFolder program;
    QProcessEnvironment environment = ProgramFolder::headless();
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), m_settings->folder());
    const auto run = program.run({QStringLiteral("127.0.0.1,%1").arg(port.port()) + tail}, 60000, environment);
    QVERIFY(run.finished);
    const auto messages = program.logMessages(log);
    QVERIFY(messages && !messages->isEmpty());

    QCOMPARE(m_settings->bytes(), before);
    QCOMPARE(QFileInfo(m_settings->filePath()).lastModified(), modified);
    QCOMPARE(QDir(m_settings->folder()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), entries);
}

QTEST_MAIN(TestSettings)
#include "tst_settings.moc"
