// The check window as the user meets it: its controls, tab order, field
// rules, the port field, service list and timeout bar keeping in step,
// resizing, and the About window that a double click opens.
#include "LoopbackPeers.h"
#include "ModalWatch.h"
#include "WindowTesting.h"
#include "entry/Version.h"
#include "window/frmOstrel.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <memory>
#include <tuple>

using WindowTesting::control;
using WindowTesting::twips;
using Places = QMap<QString, QRect>;

namespace {

QString captionOf(const QWidget *widget)
{
    if (auto *frame = qobject_cast<const QGroupBox *>(widget))
        return frame->title();
    if (auto *button = qobject_cast<const QAbstractButton *>(widget))
        return button->text();
    if (auto *label = qobject_cast<const QLabel *>(widget))
        return label->text();
    if (auto *field = qobject_cast<const QLineEdit *>(widget))
        return field->text();
    if (auto *list = qobject_cast<const QComboBox *>(widget))
        return list->currentText();
    return QString();
}

struct LayoutRow {
    const char *name;
    const char *container;
    const char *caption;
    bool enabled;
    bool visible;
    int checked; // -1: cannot be ticked or selected
    int left, top, width, height;
};

const LayoutRow kLayout[] = {
    {"frameSettings", "frmOstrel", " Port Settings ", true, true, -1, 120, 60, 6015, 2355},
    {"lblDeviceName", "frameSettings", "Device Name:", true, true, -1, 180, 330, 1020, 195},
    {"txtDeviceName", "frameSettings", "", true, true, -1, 1620, 300, 4215, 285},
    {"optCheck0", "frameSettings", "FTP  >", true, true, 0, 180, 720, 1215, 195},
    {"chkLogon", "frameSettings", "w/ FTP Anonymous Logon", true, true, 0, 1620, 720, 2715, 195},
    {"optCheck1", "frameSettings", "Ping/Echo", true, true, 0, 180, 1020, 1215, 195},
    {"optCheck2", "frameSettings", "SMTP", true, true, 0, 180, 1320, 1215, 195},
    {"optCheck3", "frameSettings", "Other Port  >", true, true, 1, 180, 1620, 1215, 195},
    {"txtPort", "frameSettings", "21", true, true, -1, 1620, 1560, 555, 285},
    {"cmbPorts", "frameSettings", "", true, true, -1, 2280, 1560, 1515, 315},
    {"lblTimeout", "frameSettings", "Timeout (sec) : 15", true, true, -1, 180, 1980, 1275, 195},
    {"HScroll1", "frameSettings", "", true, true, -1, 1620, 1980, 2175, 195},
    {"btnCheck", "frameSettings", "Chec&k Port", true, true, -1, 4620, 1200, 1215, 975},
    {"frameConn", "frmOstrel", " Connection Result ", true, true, -1, 120, 2520, 6015, 3315},
    {"lblPortCheck", "frameConn", "Port Result:", true, true, -1, 180, 390, 825, 195},
    {"imgGreen", "frameConn", "", true, false, -1, 1020, 240, 480, 480},
    {"imgRed", "frameConn", "", true, false, -1, 1020, 240, 480, 480},
    {"lblResult", "frameConn", "", true, true, -1, 1620, 360, 4215, 255},
    {"chkEXE", "frameConn", "If port", true, true, 0, 180, 900, 795, 195},
    {"picEXE", "frameConn", "", true, true, -1, 960, 780, 675, 495},
    {"optEXE0", "picEXE", "OK", true, true, 0, 0, 0, 615, 195},
    {"optEXE1", "picEXE", "N/A", true, true, 1, 0, 240, 615, 195},
    {"lblEXE", "frameConn", "execute this command (add /s for silent)...", true, true, -1, 1620, 900, 2955, 195},
    {"lblEXEName", "frameConn", "EXE Name:", false, true, -1, 480, 1320, 825, 195},
    {"txtEXE", "frameConn", "", false, true, -1, 1620, 1260, 3795, 285},
    {"btnBrowse", "frameConn", "...", false, true, -1, 5460, 1200, 375, 375},
    {"lblArg", "frameConn", "Arguments:", false, true, -1, 480, 1680, 795, 195},
    {"txtArg", "frameConn", "", false, true, -1, 1620, 1620, 4215, 285},
    {"chkMail", "frameConn", "If port", true, true, 0, 180, 2100, 795, 195},
    {"picMail", "frameConn", "", true, true, -1, 960, 1980, 675, 495},
    {"optMail0", "picMail", "OK", true, true, 0, 0, 0, 615, 195},
    {"optMail1", "picMail", "N/A", true, true, 1, 0, 240, 615, 195},
    {"lblMail", "frameConn", "send an SMTP email (seperate by comma's)...", true, true, -1, 1620, 2100, 3225, 195},
    {"lblEmailAddr", "frameConn", "Email Addr(s):", false, true, -1, 480, 2520, 960, 195},
    {"txtMail", "frameConn", "", false, true, -1, 1620, 2460, 4215, 285},
    {"lblMailServer", "frameConn", "Mail Server:", false, true, -1, 480, 2880, 840, 195},
    {"txtMailServer", "frameConn", "", false, true, -1, 1620, 2820, 4215, 285},
};

} // namespace

class TestCheckWindow : public QObject
{
    Q_OBJECT
private slots:
    void init() { open(); }
    void cleanup() { m_form.reset(); }

    void windowAsLoaded();
    void controlsAsLaidOut_data();
    void controlsAsLaidOut();
    void tabOrder_data();
    void tabOrder();

    void deviceNameEnablesCheckButton_data();
    void deviceNameEnablesCheckButton();
    void enterInDeviceName();
    void focusColourAndSelectAll_data();
    void focusColourAndSelectAll();
    void otherWindowKeepsFieldEntered();
    void checkBoxesEnableTheirRows_data();
    void checkBoxesEnableTheirRows();
    void resizeRule();

    void serviceList();
    void portAndList_data();
    void portAndList();
    void timeoutBar_data();
    void timeoutBar();

    void doubleClickOnControlsOpensNothing_data();
    void doubleClickOnControlsOpensNothing();
    void aboutWindow_data();
    void aboutWindow();

private:
    void open()
    {
        m_form = std::make_unique<frmOstrel>();
        m_form->Form_Load();
        QVERIFY(QTest::qWaitForWindowActive(m_form.get()));
    }
    template <typename T = QWidget>
    T *find(const QString &name) const
    {
        return control<T>(*m_form, name);
    }
    Places placesOfAll() const
    {
        Places places;
        for (const LayoutRow &row : kLayout)
            places.insert(QLatin1String(row.name), twips(find(QLatin1String(row.name))));
        return places;
    }

    QLineEdit *port() const { return find<QLineEdit>("txtPort"); }
    QComboBox *list() const { return find<QComboBox>("cmbPorts"); }
    QRadioButton *kind(int index) const { return find<QRadioButton>(QStringLiteral("optCheck%1").arg(index)); }
    // The selected kind, -1 for none and -2 for more than one.
    int selectedKind() const
    {
        int selected = -1;
        for (int index = 0; index < 4; ++index) {
            if (kind(index)->isChecked())
                selected = selected == -1 ? index : -2;
        }
        return selected;
    }
    QScrollBar *bar() const { return find<QScrollBar>("HScroll1"); }
    QString timeoutLabel() const { return find<QLabel>("lblTimeout")->text(); }

    std::unique_ptr<frmOstrel> m_form;
};

void TestCheckWindow::windowAsLoaded()
{
    QCOMPARE(m_form->windowTitle(), QStringLiteral("Ostrel %1").arg(Version::number()));
    QCOMPARE(twips(m_form.get()).size(), QSize(6270, 5955));
    QVERIFY(!m_form->windowIcon().isNull());
    QCOMPARE(QApplication::focusWidget(), find("txtDeviceName"));
    QCOMPARE(find<QScrollBar>("HScroll1")->value(), 15);
    QCOMPARE(find("btnCheck")->toolTip(), QStringLiteral("Check Port Connection"));
    QVERIFY(!find<QPushButton>("btnCheck")->icon().isNull());
    QCOMPARE(find("btnBrowse")->toolTip(), QStringLiteral("Select File"));
    for (const char *light : {"imgGreen", "imgRed"})
        QVERIFY(!find<QLabel>(light)->pixmap().isNull());
}

void TestCheckWindow::controlsAsLaidOut_data()
{
    QTest::addColumn<QString>("container");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<bool>("visible");
    QTest::addColumn<int>("checked");
    QTest::addColumn<QRect>("place");
    for (const LayoutRow &row : kLayout) {
        QTest::newRow(row.name) << QString::fromLatin1(row.container) << QString::fromLatin1(row.caption)
                                << row.enabled << row.visible << row.checked
                                << QRect(row.left, row.top, row.width, row.height);
    }
}

void TestCheckWindow::controlsAsLaidOut()
{
    QFETCH(QString, container);
    QFETCH(QString, caption);
    QFETCH(bool, enabled);
    QFETCH(bool, visible);
    QFETCH(int, checked);
    QFETCH(QRect, place);

    const QWidget *widget = find(QString::fromLatin1(QTest::currentDataTag()));
    QCOMPARE(widget->parentWidget()->objectName(), container);
    QCOMPARE(captionOf(widget), caption);
    QCOMPARE(widget->isEnabled(), enabled);
    QCOMPARE(widget->isVisibleTo(m_form.get()), visible);
    const auto *button = qobject_cast<const QAbstractButton *>(widget);
    QCOMPARE(button && button->isCheckable() ? int(button->isChecked()) : -1, checked);
    QCOMPARE(twips(widget), place);
}

void TestCheckWindow::tabOrder_data()
{
    QTest::addColumn<bool>("rowsOn");
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("trigger");
    QTest::addColumn<QStringList>("order");

    // Tab enters each option group at its selected button only, and skips
    // the disabled fields.
    QTest::newRow("as loaded") << false << 3 << 1
                               << QStringList{"txtDeviceName", "chkLogon", "optCheck3", "txtPort", "cmbPorts",
                                              "HScroll1", "chkEXE", "optEXE1", "chkMail", "optMail1", "btnCheck"};
    QTest::newRow("rows on, FTP, OK") << true << 0 << 0
                                      << QStringList{"txtDeviceName", "optCheck0", "chkLogon", "txtPort",
                                                     "cmbPorts", "HScroll1", "chkEXE", "optEXE0", "txtEXE",
                                                     "txtArg", "chkMail", "optMail0", "txtMail", "txtMailServer",
                                                     "btnBrowse", "btnCheck"};
}

void TestCheckWindow::tabOrder()
{
    QFETCH(bool, rowsOn);
    QFETCH(int, kind);
    QFETCH(int, trigger);
    QFETCH(QStringList, order);

    find<QCheckBox>("chkEXE")->setChecked(rowsOn);
    find<QCheckBox>("chkMail")->setChecked(rowsOn);
    find<QRadioButton>(QStringLiteral("optCheck%1").arg(kind))->setChecked(true);
    find<QRadioButton>(QStringLiteral("optEXE%1").arg(trigger))->setChecked(true);
    find<QRadioButton>(QStringLiteral("optMail%1").arg(trigger))->setChecked(true);

    find("txtDeviceName")->setFocus(Qt::TabFocusReason);
    QStringList visited{QApplication::focusWidget()->objectName()};
    for (int step = 0; step < order.size(); ++step) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        visited << QApplication::focusWidget()->objectName();
    }
    QCOMPARE(visited, order + QStringList{order.first()});
}

void TestCheckWindow::deviceNameEnablesCheckButton_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<int>("backspaces");
    QTest::addColumn<bool>("enabled");
    QTest::newRow("blanks only") << "    " << 0 << false;
    QTest::newRow("one letter") << "a" << 0 << true;
    QTest::newRow("blanks around a letter") << "  a  " << 0 << true;
    QTest::newRow("letter after blanks taken back") << "  a" << 1 << false;
}

void TestCheckWindow::deviceNameEnablesCheckButton()
{
    QFETCH(QString, typed);
    QFETCH(int, backspaces);
    QFETCH(bool, enabled);

    // A result from an earlier check is on show.
    find<QLabel>("lblResult")->setText(QStringLiteral("Port Available"));
    find("imgGreen")->show();
    find("imgRed")->show();

    QTest::keyClicks(find("txtDeviceName"), typed);
    for (int press = 0; press < backspaces; ++press)
        QTest::keyClick(find("txtDeviceName"), Qt::Key_Backspace);
    QCOMPARE(find("btnCheck")->isEnabled(), enabled);
    QCOMPARE(find<QLabel>("lblResult")->text(), QString());
    QVERIFY(!find("imgGreen")->isVisible());
    QVERIFY(!find("imgRed")->isVisible());
}

void TestCheckWindow::enterInDeviceName()
{
    auto *field = find<QLineEdit>("txtDeviceName");
    QSignalSpy clicks(find<QPushButton>("btnCheck"), &QPushButton::clicked);
    // Each check runs for real and ends at once on a refused port.
    const LoopbackPort refused = LoopbackPort::refused();
    find<QLineEdit>("txtPort")->setText(QString::number(refused.port()));

    QTest::keyClicks(field, QStringLiteral("  "));
    QTest::keyClick(field, Qt::Key_Return);
    QCOMPARE(clicks.count(), 0);

    QTest::keyClicks(field, QStringLiteral("127.0.0.1"));
    QTest::keyClick(field, Qt::Key_Return);
    QCOMPARE(clicks.count(), 1);
    QTest::keyClick(field, Qt::Key_Enter, Qt::KeypadModifier);
    QCOMPARE(clicks.count(), 2);
    QCOMPARE(field->text(), QStringLiteral("  127.0.0.1"));
    QCOMPARE(find<QLabel>("lblResult")->text(), QStringLiteral("Port Un-Available"));

    // Enter elsewhere is no check.
    QTest::keyClick(find("txtPort"), Qt::Key_Return);
    QCOMPARE(clicks.count(), 2);
}

void TestCheckWindow::focusColourAndSelectAll_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("mouse");
    QTest::addColumn<bool>("highlighted");
    for (const char *name : {"txtDeviceName", "txtEXE", "txtArg", "txtMail", "txtMailServer"})
        QTest::addRow("%s by Tab", name) << name << false << true;
    QTest::newRow("txtDeviceName by click") << "txtDeviceName" << true << true;
    QTest::newRow("txtPort by Tab") << "txtPort" << false << false;
    QTest::newRow("txtPort by click") << "txtPort" << true << false;
}

void TestCheckWindow::focusColourAndSelectAll()
{
    QFETCH(QString, name);
    QFETCH(bool, mouse);
    QFETCH(bool, highlighted);

    find<QCheckBox>("chkEXE")->setChecked(true);
    find<QCheckBox>("chkMail")->setChecked(true);
    auto *field = find<QLineEdit>(name);
    field->setText(QStringLiteral("text to replace"));
    const QColor normal = QApplication::palette(field).color(QPalette::Base);
    const QColor info = QApplication::palette(field).color(QPalette::ToolTipBase);
    QVERIFY(normal != info);
    QWidget *elsewhere = find("HScroll1");

    elsewhere->setFocus(Qt::TabFocusReason);
    if (mouse)
        QTest::mouseClick(field, Qt::LeftButton, {}, QPoint(field->width() / 3, field->height() / 2));
    else
        field->setFocus(Qt::TabFocusReason);
    QCOMPARE(QApplication::focusWidget(), field);
    QCOMPARE(field->selectedText(), field->text());
    QCOMPARE(field->palette().color(QPalette::Base), highlighted ? info : normal);
    if (mouse) {
        // Only the click that brought the focus selects all; the next one places the cursor.
        QTest::mouseClick(field, Qt::LeftButton, {}, QPoint(3, field->height() / 2));
        QVERIFY(!field->hasSelectedText());
        QCOMPARE(field->cursorPosition(), 0);
    }

    elsewhere->setFocus(Qt::TabFocusReason);
    QCOMPARE(field->palette().color(QPalette::Base), normal);
    QCOMPARE(field->text(), QStringLiteral("text to replace"));
}

// Coming back from another window is no new entry: the user's own selection stays.
void TestCheckWindow::otherWindowKeepsFieldEntered()
{
    auto *field = find<QLineEdit>("txtDeviceName");
    field->setText(QStringLiteral("hello world"));
    find("txtPort")->setFocus(Qt::OtherFocusReason);
    field->setFocus(Qt::TabFocusReason);
    field->setSelection(0, 5);

    QWidget other;
    other.show();
    other.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&other));
    m_form->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_form.get()));
    QCOMPARE(QApplication::focusWidget(), field);
    QCOMPARE(field->selectedText(), QStringLiteral("hello"));
    QCOMPARE(field->palette().color(QPalette::Base), QApplication::palette(field).color(QPalette::ToolTipBase));
}

void TestCheckWindow::checkBoxesEnableTheirRows_data()
{
    QTest::addColumn<QString>("box");
    QTest::addColumn<QStringList>("row");
    QTest::addColumn<QStringList>("otherRow");
    const QStringList command{"lblEXEName", "lblArg", "txtEXE", "txtArg", "btnBrowse"};
    const QStringList mail{"lblEmailAddr", "lblMailServer", "txtMail", "txtMailServer"};
    QTest::newRow("command") << "chkEXE" << command << mail;
    QTest::newRow("mail") << "chkMail" << mail << command;
}

void TestCheckWindow::checkBoxesEnableTheirRows()
{
    QFETCH(QString, box);
    QFETCH(QStringList, row);
    QFETCH(QStringList, otherRow);

    auto *tick = find<QCheckBox>(box);
    for (QLineEdit *field : m_form->findChildren<QLineEdit *>())
        field->setText(field->objectName());
    // The trigger options stay enabled whatever the box says.
    const QString options = box == QLatin1String("chkEXE") ? "optEXE" : "optMail";
    const auto expectRow = [&](bool enabled) {
        for (const QString &name : row)
            QVERIFY2(find(name)->isEnabled() == enabled, qPrintable(name));
        for (const QString &name : otherRow)
            QVERIFY2(!find(name)->isEnabled(), qPrintable(name));
        QVERIFY(find(options + "0")->isEnabled() && find(options + "1")->isEnabled());
        for (QLineEdit *field : m_form->findChildren<QLineEdit *>())
            QCOMPARE(field->text(), field->objectName());
    };

    QTest::mouseClick(tick, Qt::LeftButton, {}, QPoint(6, tick->height() / 2));
    QCOMPARE(tick->checkState(), Qt::Checked);
    expectRow(true);
    QTest::mouseClick(tick, Qt::LeftButton, {}, QPoint(6, tick->height() / 2));
    QCOMPARE(tick->checkState(), Qt::Unchecked);
    expectRow(false);
    // The greyed third state counts as ticked, as every value but unticked does.
    tick->setCheckState(Qt::PartiallyChecked);
    expectRow(true);
}

// The wide fields and both frames keep their right margins, the lower frame
// its bottom one, the push buttons stay at the right edge; a size that would
// be negative leaves the control at its last one, and nothing else moves.
void TestCheckWindow::resizeRule()
{
    const Places design = placesOfAll();
    Places expected = design;
    const auto width = [&design](const char *name) { return 6270 - design.value(QLatin1String(name)).width(); };
    const struct {
        const char *control;
        int margin;
        bool height;
    } rules[] = {
        {"txtDeviceName", width("txtDeviceName"), false}, {"lblResult", width("txtDeviceName"), false},
        {"txtArg", width("txtDeviceName"), false},        {"txtMail", width("txtDeviceName"), false},
        {"txtMailServer", width("txtDeviceName"), false}, {"txtEXE", width("txtEXE"), false},
        {"frameConn", width("frameConn"), false},         {"frameSettings", width("frameConn"), false},
        {"frameConn", 5955 - 3315, true},
    };
    // In pixels of 15 twips: +67 is 1005 twips wider, then 600 twips narrower
    // and shorter than designed, then too narrow for the wide fields, then
    // for the frames as well, and back to the design size.
    const QSize sizes[] = {{418 + 67, 397}, {418 - 40, 397 - 40}, {100, 100}, {10, 10}, {418, 397}};
    for (const QSize &size : sizes) {
        m_form->resize(size);
        QTRY_COMPARE(m_form->size(), size);
        const int w = size.width() * 15;
        const int h = size.height() * 15;
        for (const auto &rule : rules) {
            QRect &place = expected[QLatin1String(rule.control)];
            const int value = (rule.height ? h : w) - rule.margin;
            if (value >= 0)
                rule.height ? place.setHeight(value) : place.setWidth(value);
        }
        expected["btnCheck"].moveLeft(w - (6270 - 4620));
        expected["btnBrowse"].moveLeft(w - (6270 - 5460));
        QCOMPARE(placesOfAll(), expected);
    }
    QCOMPARE(expected, design);
}

void TestCheckWindow::serviceList()
{
    QComboBox *services = list();
    QVERIFY(!services->isEditable());
    QCOMPARE(services->currentIndex(), -1);
    QCOMPARE(services->count(), 17);
    // Not sorted: HTTP comes before TFTP, and the catch-all is last.
    for (const auto &[index, name, number] :
         {std::tuple{0, "ANY", 0}, {14, "HTTP", 80}, {15, "TFTP", 69}, {16, "Other!", 0}}) {
        QCOMPARE(services->itemText(index), QLatin1String(name));
        QCOMPARE(services->itemData(index).toInt(), number);
    }
}

void TestCheckWindow::portAndList_data()
{
    QTest::addColumn<QString>("portBefore");
    QTest::addColumn<int>("kindBefore");
    // "text:" sets the field, "type:" types into it, "choose:" picks an entry, "kind:" clicks a kind
    QTest::addColumn<QString>("action");
    QTest::addColumn<QString>("portAfter");
    QTest::addColumn<QString>("entry");
    QTest::addColumn<int>("kindAfter");

    // A service from the list means Other Port; the catch-all leaves the kind alone.
    QTest::newRow("80 is HTTP") << "" << 0 << "text:80" << "80" << "HTTP" << 3;
    QTest::newRow("0 is ANY, not the catch-all") << "" << 0 << "text:0" << "0" << "ANY" << 3;
    QTest::newRow("leading zero") << "" << 0 << "text:021" << "021" << "Other!" << 0;
    QTest::newRow("leading blank") << "" << 0 << "text: 21" << " 21" << "Other!" << 0;
    QTest::newRow("unknown port") << "" << 0 << "text:8080" << "8080" << "Other!" << 0;
    QTest::newRow("typing 2") << "21" << 1 << "type:2" << "2" << "Other!" << 1;
    QTest::newRow("typing 2, then 5") << "21" << 1 << "type:25" << "25" << "SMTP" << 3;
    QTest::newRow("clearing") << "25" << 2 << "type:" << "" << "Other!" << 2;
    QTest::newRow("choosing ANY") << "not a port" << 2 << "choose:0" << "0" << "ANY" << 3;
    QTest::newRow("choosing ECHO") << "not a port" << 2 << "choose:1" << "7" << "ECHO" << 3;
    // Port 21 as Other Port, not as the FTP kind.
    QTest::newRow("choosing FTP") << "not a port" << 2 << "choose:6" << "21" << "FTP" << 3;
    QTest::newRow("choosing Other! changes nothing") << "80" << 0 << "choose:16" << "80" << "Other!" << 0;
    QTest::newRow("clicking a kind") << "80" << 3 << "kind:1" << "80" << "HTTP" << 1;
    QTest::newRow("clicking the selected kind") << "80" << 3 << "kind:3" << "80" << "HTTP" << 3;
}

void TestCheckWindow::portAndList()
{
    QFETCH(QString, portBefore);
    QFETCH(int, kindBefore);
    QFETCH(QString, action);
    QFETCH(QString, portAfter);
    QFETCH(QString, entry);
    QFETCH(int, kindAfter);

    port()->setText(portBefore);
    QTest::mouseClick(kind(kindBefore), Qt::LeftButton);
    QCOMPARE(selectedKind(), kindBefore);
    // A result on show goes whenever a kind is clicked or selected, and only then.
    find<QLabel>("lblResult")->setText(QStringLiteral("Port Un-Available"));
    find("imgRed")->show();

    const QString argument = action.section(QLatin1Char(':'), 1);
    if (action.startsWith(QLatin1String("text:"))) {
        port()->setText(argument);
    } else if (action.startsWith(QLatin1String("choose:"))) {
        list()->setCurrentIndex(argument.toInt());
    } else if (action.startsWith(QLatin1String("kind:"))) {
        QTest::mouseClick(kind(argument.toInt()), Qt::LeftButton);
    } else {
        // Entering the field selects its text, so the first key replaces it.
        QTest::mouseClick(port(), Qt::LeftButton);
        QTest::keyClick(port(), Qt::Key_Backspace);
        QTest::keyClicks(port(), argument);
    }
    QCOMPARE(port()->text(), portAfter);
    QCOMPARE(list()->currentText(), entry);
    QCOMPARE(selectedKind(), kindAfter);
    const bool cleared = kindAfter != kindBefore || action.startsWith(QLatin1String("kind:"));
    QCOMPARE(find<QLabel>("lblResult")->text().isEmpty(), cleared);
    QCOMPARE(find("imgRed")->isVisible(), !cleared);
}

void TestCheckWindow::timeoutBar_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("value");
    QTest::newRow("End") << int(Qt::Key_End) << 60;
    QTest::newRow("Home") << int(Qt::Key_Home) << 1;
    // Right raises the timeout; a page is one second.
    QTest::newRow("Right") << int(Qt::Key_Right) << 16;
    QTest::newRow("page up") << int(Qt::Key_PageUp) << 16;
}

void TestCheckWindow::timeoutBar()
{
    QFETCH(int, key);
    QFETCH(int, value);

    bar()->setFocus(Qt::TabFocusReason);
    if (key == Qt::Key_PageUp)
        bar()->triggerAction(QAbstractSlider::SliderPageStepAdd);
    else
        QTest::keyClick(bar(), Qt::Key(key));
    QCOMPARE(bar()->value(), value);
    QCOMPARE(timeoutLabel(), QStringLiteral("Timeout (sec) : %1").arg(value));

    // While the thumb is dragged the label follows it, not only on release.
    bar()->setSliderDown(true);
    bar()->setSliderPosition(30);
    QCOMPARE(timeoutLabel(), QStringLiteral("Timeout (sec) : 30"));
    bar()->setSliderDown(false);
}

void TestCheckWindow::doubleClickOnControlsOpensNothing_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QPoint>("at"); // in the control, pixels; (-1, -1) for its middle
    const QPoint middle(-1, -1);
    QTest::newRow("label") << "lblDeviceName" << middle;
    QTest::newRow("text field") << "txtDeviceName" << middle;
    QTest::newRow("disabled text field") << "txtMail" << middle;
    QTest::newRow("empty part of a frame") << "frameSettings" << QPoint(200, 76);
    QTest::newRow("empty part of a trigger pair") << "picEXE" << QPoint(43, 20);
}

void TestCheckWindow::doubleClickOnControlsOpensNothing()
{
    QFETCH(QString, name);
    QFETCH(QPoint, at);

    QWidget *target = find(name);
    const QPoint point = at == QPoint(-1, -1) ? target->rect().center() : at;
    ModalWatch watch([](QWidget *modal) { modal->close(); });
    QTest::mouseDClick(target, Qt::LeftButton, {}, point);
    QVERIFY(!watch.seen());
}

void TestCheckWindow::aboutWindow_data()
{
    QTest::addColumn<QString>("way");
    QTest::addColumn<bool>("closes");
    QTest::newRow("Escape") << "Escape" << true;
    QTest::newRow("Close button") << "btnClose" << true;
    QTest::newRow("double click on the icon") << "imgIcon" << true;
    QTest::newRow("single click on the icon") << "click imgIcon" << false;
    QTest::newRow("double click on the title") << "lblTitle" << false;
}

// A double click on the window's own surface shows the About window modally;
// the double click returns once it has closed, and its keys are its own.
void TestCheckWindow::aboutWindow()
{
    QFETCH(QString, way);
    QFETCH(bool, closes);

    const QPoint background(3, 200);
    QVERIFY(!m_form->childAt(background));
    bool modalOverForm = false;
    bool openAfterAction = true;
    ModalWatch watch([&](QWidget *modal) {
        modalOverForm = modal->isModal();
        QCOMPARE(modal->parentWidget(), m_form.get());
        QCOMPARE(modal->windowTitle(), QStringLiteral("About Ostrel"));
        QCOMPARE(modal->findChild<QLabel *>(QStringLiteral("lblTitle"))->text(), Version::caption());
        for (const char *name : {"lblProduct", "lblAuthor", "lblDisclaimer"})
            QVERIFY2(!modal->findChild<QLabel *>(QLatin1String(name))->text().isEmpty(), name);
        QVERIFY(!modal->findChild<QLabel *>(QStringLiteral("imgIcon"))->pixmap().isNull());
        QCOMPARE(modal->findChild<QPushButton *>(QStringLiteral("btnClose"))->text(), QStringLiteral("Close"));

        QWidget *part = modal->findChild<QWidget *>(way.section(QLatin1Char(' '), -1));
        if (way == QLatin1String("Escape"))
            QTest::keyClick(modal, Qt::Key_Escape);
        else if (way.startsWith(QLatin1String("click")) || qobject_cast<QPushButton *>(part))
            QTest::mouseClick(part, Qt::LeftButton);
        else
            QTest::mouseDClick(part, Qt::LeftButton);
        openAfterAction = modal->isVisible();
        if (openAfterAction)
            modal->close();
    });
    QTest::mouseDClick(m_form.get(), Qt::LeftButton, {}, background);
    QVERIFY(modalOverForm);
    QVERIFY(!watch.forced());
    QCOMPARE(openAfterAction, !closes);
    QVERIFY(m_form->isVisible());

    // A right double click is no double click of the window.
    ModalWatch none([](QWidget *modal) { modal->close(); });
    QTest::mouseDClick(m_form.get(), Qt::RightButton, {}, background);
    QVERIFY(!none.seen());
}

QTEST_MAIN(TestCheckWindow)
#include "tst_checkwindow.moc"
