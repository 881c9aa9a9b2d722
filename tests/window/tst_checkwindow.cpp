// The check window as the user meets it: its controls, tab order, field
// rules, resizing and the double click that opens the About window.
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

using WindowTesting::control;
using WindowTesting::twips;

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

// -1 for controls that cannot be ticked or selected.
int checkedOf(const QWidget *widget)
{
    if (auto *button = qobject_cast<const QAbstractButton *>(widget); button && button->isCheckable())
        return button->isChecked() ? 1 : 0;
    return -1;
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

const QStringList kTabOrder{
    "txtDeviceName", "optCheck0", "chkLogon", "optCheck1", "optCheck2", "optCheck3", "txtPort",
    "cmbPorts",      "HScroll1",  "chkEXE",   "optEXE0",   "optEXE1",   "txtEXE",    "txtArg",
    "chkMail",       "optMail0",  "optMail1", "txtMail",   "txtMailServer", "btnBrowse", "btnCheck",
};

const QStringList kCommandAndMailFields{"txtEXE", "txtArg", "btnBrowse", "txtMail", "txtMailServer"};

const QStringList kHighlightedFields{"txtDeviceName", "txtEXE", "txtArg", "txtMail", "txtMailServer"};

// The controls that keep their place and size whatever the window's size.
const QStringList kResizeTargets{"txtDeviceName", "lblResult", "txtArg",    "txtMail",  "txtMailServer",
                                 "txtEXE",        "frameConn", "frameSettings", "btnCheck", "btnBrowse"};

} // namespace

class TestCheckWindow : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void windowAsLoaded();
    void controlsAsLaidOut_data();
    void controlsAsLaidOut();
    void everyControlIsLaidOut();
    void pushButtons();
    void tabOrder_data();
    void tabOrder();

    void deviceNameEnablesCheckButton_data();
    void deviceNameEnablesCheckButton();
    void enterInDeviceName();
    void focusColourAndSelectAll_data();
    void focusColourAndSelectAll();
    void clickInFocusedFieldPlacesCursor();
    void otherWindowKeepsFieldEntered();
    void checkBoxesEnableTheirRows_data();
    void checkBoxesEnableTheirRows();

    void resizeKeepsRightMargins_data();
    void resizeKeepsRightMargins();
    void shrinkingPastZeroKeepsLastSizes();

    void doubleClickOnControlsOpensNothing_data();
    void doubleClickOnControlsOpensNothing();
    void doubleClickOnBackgroundOpensAbout();

private:
    QWidget *find(const char *name) const { return control(*m_form, QLatin1String(name)); }
    template <typename T>
    T *find(const char *name) const
    {
        return control<T>(*m_form, QLatin1String(name));
    }
    void enableAllRows();
    QMap<QString, QRect> placesOfAll() const;

    std::unique_ptr<frmOstrel> m_form;
};

void TestCheckWindow::init()
{
    m_form = std::make_unique<frmOstrel>();
    m_form->Form_Load();
    QVERIFY(QTest::qWaitForWindowActive(m_form.get()));
}

void TestCheckWindow::cleanup()
{
    m_form.reset();
}

void TestCheckWindow::enableAllRows()
{
    find<QCheckBox>("chkEXE")->setChecked(true);
    find<QCheckBox>("chkMail")->setChecked(true);
}

QMap<QString, QRect> TestCheckWindow::placesOfAll() const
{
    QMap<QString, QRect> places;
    for (const QWidget *widget : m_form->findChildren<QWidget *>()) {
        if (!widget->objectName().isEmpty() && !widget->objectName().startsWith(QLatin1String("qt_")))
            places.insert(widget->objectName(), twips(widget));
    }
    return places;
}

void TestCheckWindow::windowAsLoaded()
{
    QCOMPARE(m_form->windowTitle(), Version::caption());
    QCOMPARE(m_form->windowTitle(), QStringLiteral("Ostrel %1").arg(Version::number()));
    QCOMPARE(twips(m_form.get()).size(), QSize(6270, 5955));
    QVERIFY(!m_form->windowIcon().isNull());
    QVERIFY(m_form->isVisible());
    QCOMPARE(QApplication::focusWidget(), find("txtDeviceName"));
    // The timeout bar is what the window's probe reads for its closing waits.
    QCOMPARE(find<QScrollBar>("HScroll1")->value(), 15);
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

    const QWidget *widget = control(*m_form, QString::fromLatin1(QTest::currentDataTag()));
    QCOMPARE(widget->parentWidget()->objectName(), container);
    QCOMPARE(captionOf(widget), caption);
    QCOMPARE(widget->isEnabled(), enabled);
    QCOMPARE(widget->isVisibleTo(m_form.get()), visible);
    QCOMPARE(checkedOf(widget), checked);
    QCOMPARE(twips(widget), place);
}

void TestCheckWindow::everyControlIsLaidOut()
{
    QStringList names = placesOfAll().keys();
    QStringList expected;
    for (const LayoutRow &row : kLayout)
        expected << QLatin1String(row.name);
    names.sort();
    expected.sort();
    QCOMPARE(names, expected);
}

void TestCheckWindow::pushButtons()
{
    auto *check = find<QPushButton>("btnCheck");
    QCOMPARE(check->toolTip(), QStringLiteral("Check Port Connection"));
    QVERIFY(!check->icon().isNull());
    QCOMPARE(check->shortcut(), QKeySequence(Qt::ALT | Qt::Key_K));
    auto *browse = find<QPushButton>("btnBrowse");
    QCOMPARE(browse->toolTip(), QStringLiteral("Select File"));

    // The access key clicks the button from anywhere in the window; the
    // check it starts ends at once on a refused port.
    const LoopbackPort refused = LoopbackPort::refused();
    find<QLineEdit>("txtDeviceName")->setText(QStringLiteral("127.0.0.1"));
    find<QLineEdit>("txtPort")->setText(QString::number(refused.port()));
    QSignalSpy clicks(check, &QPushButton::clicked);
    QTest::keyClick(find("txtPort"), Qt::Key_K, Qt::AltModifier);
    QTRY_COMPARE(clicks.count(), 1);

    for (const char *light : {"imgGreen", "imgRed"}) {
        const QPixmap pixmap = find<QLabel>(light)->pixmap();
        QVERIFY(!pixmap.isNull());
        QCOMPARE(pixmap.deviceIndependentSize().toSize(), QSize(32, 32));
    }
}

void TestCheckWindow::tabOrder_data()
{
    QTest::addColumn<bool>("rowsOn");
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("trigger");

    // Tab enters each option group at its selected button only.
    QTest::newRow("as loaded") << false << 3 << 1;
    QTest::newRow("rows on, FTP, OK") << true << 0 << 0;
    QTest::newRow("rows on, Ping/Echo, N/A") << true << 1 << 1;
    QTest::newRow("rows off, SMTP, OK") << false << 2 << 0;
}

void TestCheckWindow::tabOrder()
{
    QFETCH(bool, rowsOn);
    QFETCH(int, kind);
    QFETCH(int, trigger);

    if (rowsOn)
        enableAllRows();
    find<QRadioButton>(qPrintable(QStringLiteral("optCheck%1").arg(kind)))->setChecked(true);
    find<QRadioButton>(qPrintable(QStringLiteral("optEXE%1").arg(trigger)))->setChecked(true);
    find<QRadioButton>(qPrintable(QStringLiteral("optMail%1").arg(trigger)))->setChecked(true);

    QStringList expected;
    for (const QString &name : kTabOrder) {
        if (!rowsOn && kCommandAndMailFields.contains(name))
            continue;
        if (name.startsWith(QLatin1String("opt")) && !name.endsWith(QString::number(name.startsWith(QLatin1String("optCheck")) ? kind : trigger)))
            continue;
        expected << name;
    }

    find("txtDeviceName")->setFocus(Qt::TabFocusReason);
    QStringList forward{QApplication::focusWidget()->objectName()};
    for (int step = 0; step < expected.size(); ++step) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        forward << QApplication::focusWidget()->objectName();
    }
    QCOMPARE(forward, expected + QStringList{expected.first()});

    QStringList backward{QApplication::focusWidget()->objectName()};
    for (int step = 0; step < expected.size(); ++step) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab, Qt::ShiftModifier);
        backward << QApplication::focusWidget()->objectName();
    }
    std::reverse(forward.begin(), forward.end());
    QCOMPARE(backward, forward);
}

void TestCheckWindow::deviceNameEnablesCheckButton_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<int>("backspaces");
    QTest::addColumn<bool>("enabled");

    QTest::newRow("one blank") << " " << 0 << false;
    QTest::newRow("blanks only") << "    " << 0 << false;
    QTest::newRow("one letter") << "a" << 0 << true;
    QTest::newRow("blanks around a letter") << "  a  " << 0 << true;
    QTest::newRow("letter typed and taken back") << "a" << 1 << false;
    QTest::newRow("letter after blanks taken back") << "  a" << 1 << false;
    QTest::newRow("address") << "192.168.0.1" << 0 << true;
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

    QWidget *field = find("txtDeviceName");
    QTest::keyClicks(field, typed);
    for (int press = 0; press < backspaces; ++press)
        QTest::keyClick(field, Qt::Key_Backspace);

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
    QVERIFY(!find("btnCheck")->isEnabled());
    QTest::keyClick(field, Qt::Key_Return);
    QCOMPARE(clicks.count(), 0);

    QTest::keyClicks(field, QStringLiteral("127.0.0.1"));
    QTest::keyClick(field, Qt::Key_Return);
    QCOMPARE(clicks.count(), 1);
    QTest::keyClick(field, Qt::Key_Enter, Qt::KeypadModifier);
    QCOMPARE(clicks.count(), 2);
    QCOMPARE(field->text(), QStringLiteral("  127.0.0.1"));

    // Enter elsewhere is no check.
    QTest::keyClick(find("txtPort"), Qt::Key_Return);
    QCOMPARE(clicks.count(), 2);
}

void TestCheckWindow::focusColourAndSelectAll_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("mouse");
    QTest::addColumn<bool>("highlighted");

    for (const QString &name : kHighlightedFields + QStringList{QStringLiteral("txtPort")}) {
        const bool highlighted = name != QLatin1String("txtPort");
        QTest::addRow("%s by Tab", qPrintable(name)) << name << false << highlighted;
        QTest::addRow("%s by click", qPrintable(name)) << name << true << highlighted;
    }
}

void TestCheckWindow::focusColourAndSelectAll()
{
    QFETCH(QString, name);
    QFETCH(bool, mouse);
    QFETCH(bool, highlighted);

    enableAllRows();
    auto *field = control<QLineEdit>(*m_form, name);
    field->setText(QStringLiteral("text to replace"));
    const QColor normal = QApplication::palette(field).color(QPalette::Base);
    const QColor info = QApplication::palette(field).color(QPalette::ToolTipBase);
    QVERIFY(normal != info);

    const int place = kTabOrder.indexOf(name);
    QWidget *before = control(*m_form, kTabOrder.at((place + kTabOrder.size() - 1) % kTabOrder.size()));
    before->setFocus(Qt::OtherFocusReason);
    QCOMPARE(QApplication::focusWidget(), before);
    QCOMPARE(field->palette().color(QPalette::Base), normal);

    if (mouse)
        QTest::mouseClick(field, Qt::LeftButton, {}, QPoint(field->width() / 3, field->height() / 2));
    else
        QTest::keyClick(before, Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), field);
    QCOMPARE(field->selectedText(), field->text());
    QCOMPARE(field->palette().color(QPalette::Base), highlighted ? info : normal);

    QTest::keyClick(field, Qt::Key_Tab);
    QVERIFY(QApplication::focusWidget() != field);
    QCOMPARE(field->palette().color(QPalette::Base), normal);
    QCOMPARE(field->text(), QStringLiteral("text to replace"));
}

void TestCheckWindow::clickInFocusedFieldPlacesCursor()
{
    auto *field = find<QLineEdit>("txtDeviceName");
    field->setText(QStringLiteral("device.example"));
    find("txtPort")->setFocus(Qt::OtherFocusReason);
    QTest::mouseClick(field, Qt::LeftButton, {}, QPoint(field->width() / 2, field->height() / 2));
    QCOMPARE(field->selectedText(), field->text());
    // Only the click that brought the focus selects all; the next one places the cursor.
    QTest::mouseClick(field, Qt::LeftButton, {}, QPoint(3, field->height() / 2));
    QVERIFY(!field->hasSelectedText());
    QCOMPARE(field->cursorPosition(), 0);
}

void TestCheckWindow::otherWindowKeepsFieldEntered()
{
    auto *field = find<QLineEdit>("txtDeviceName");
    field->setText(QStringLiteral("hello world"));
    find("txtPort")->setFocus(Qt::OtherFocusReason);
    field->setFocus(Qt::TabFocusReason);
    field->setSelection(0, 5);
    const QColor info = QApplication::palette(field).color(QPalette::ToolTipBase);

    QWidget other;
    other.resize(100, 100);
    other.show();
    other.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&other));
    QCOMPARE(field->palette().color(QPalette::Active, QPalette::Base), info);

    m_form->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_form.get()));
    QCOMPARE(QApplication::focusWidget(), field);
    QCOMPARE(field->selectedText(), QStringLiteral("hello"));
    QCOMPARE(field->palette().color(QPalette::Base), info);
}

void TestCheckWindow::checkBoxesEnableTheirRows_data()
{
    QTest::addColumn<QString>("box");
    QTest::addColumn<QStringList>("row");
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QStringList>("otherRow");

    const QStringList command{"lblEXEName", "lblArg", "txtEXE", "txtArg", "btnBrowse"};
    const QStringList mail{"lblEmailAddr", "lblMailServer", "txtMail", "txtMailServer"};
    QTest::newRow("command") << "chkEXE" << command << QStringList{"optEXE0", "optEXE1"} << mail;
    QTest::newRow("mail") << "chkMail" << mail << QStringList{"optMail0", "optMail1"} << command;
}

void TestCheckWindow::checkBoxesEnableTheirRows()
{
    QFETCH(QString, box);
    QFETCH(QStringList, row);
    QFETCH(QStringList, options);
    QFETCH(QStringList, otherRow);

    auto *tick = control<QCheckBox>(*m_form, box);
    QMap<QString, QString> texts;
    for (const QString &name : row) {
        if (auto *field = qobject_cast<QLineEdit *>(control(*m_form, name))) {
            field->setText(name + QStringLiteral(" text"));
            texts.insert(name, field->text());
        }
    }
    const auto expectRow = [&](bool enabled) {
        for (const QString &name : row)
            QVERIFY2(control(*m_form, name)->isEnabled() == enabled, qPrintable(name));
        for (const QString &name : options)
            QVERIFY2(control(*m_form, name)->isEnabled(), qPrintable(name));
        for (const QString &name : otherRow)
            QVERIFY2(!control(*m_form, name)->isEnabled(), qPrintable(name));
        for (auto text = texts.cbegin(); text != texts.cend(); ++text)
            QCOMPARE(control<QLineEdit>(*m_form, text.key())->text(), text.value());
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

void TestCheckWindow::resizeKeepsRightMargins_data()
{
    QTest::addColumn<int>("wider");
    QTest::addColumn<int>("taller");

    // Pixels of 15 twips: 67 pixels are 1005 twips.
    QTest::newRow("1005 twips wider") << 67 << 0;
    QTest::newRow("1500 twips wider and taller") << 100 << 100;
    QTest::newRow("600 twips narrower") << -40 << 0;
    QTest::newRow("600 twips shorter") << 0 << -40;
}

void TestCheckWindow::resizeKeepsRightMargins()
{
    QFETCH(int, wider);
    QFETCH(int, taller);

    const QMap<QString, QRect> before = placesOfAll();
    const QSize size = m_form->size() + QSize(wider, taller);
    m_form->resize(size);
    QTRY_COMPARE(m_form->size(), size);
    const QMap<QString, QRect> after = placesOfAll();

    const int dw = wider * 15;
    const int dh = taller * 15;
    for (auto place = before.cbegin(); place != before.cend(); ++place) {
        QRect expected = place.value();
        const QString &name = place.key();
        if (name == QLatin1String("btnCheck") || name == QLatin1String("btnBrowse"))
            expected.translate(dw, 0);
        else if (kResizeTargets.contains(name))
            expected.setWidth(expected.width() + dw);
        if (name == QLatin1String("frameConn"))
            expected.setHeight(expected.height() + dh);
        QVERIFY2(after.value(name) == expected, qPrintable(name));
    }
}

void TestCheckWindow::shrinkingPastZeroKeepsLastSizes()
{
    const QMap<QString, QRect> design = placesOfAll();
    const auto resizeTo = [this](int width, int height) {
        m_form->resize(width, height);
        QTRY_COMPARE(m_form->size(), QSize(width, height));
    };
    const auto widthOf = [this](const char *name) { return twips(find(name)).width(); };

    // 1500 twips: too narrow for the wide fields, not for the frames.
    resizeTo(100, 100);
    if (QTest::currentTestFailed())
        return;
    for (const char *name : {"txtDeviceName", "lblResult", "txtArg", "txtMail", "txtMailServer", "txtEXE"})
        QCOMPARE(widthOf(name), design.value(QLatin1String(name)).width());
    QCOMPARE(widthOf("frameConn"), 1500 - (6270 - 6015));
    QCOMPARE(widthOf("frameSettings"), 1500 - (6270 - 6015));
    QCOMPARE(twips(find("frameConn")).height(), 3315);
    QCOMPARE(twips(find("btnCheck")).x(), 1500 - (6270 - 4620));
    QCOMPARE(twips(find("btnBrowse")).x(), 1500 - (6270 - 5460));

    // 150 twips: too narrow for the frames as well; the buttons still move.
    resizeTo(10, 10);
    if (QTest::currentTestFailed())
        return;
    QCOMPARE(widthOf("frameConn"), 1245);
    QCOMPARE(widthOf("frameSettings"), 1245);
    QCOMPARE(widthOf("txtDeviceName"), 4215);
    QCOMPARE(twips(find("btnCheck")).x(), 150 - 1650);
    QCOMPARE(twips(find("btnBrowse")).x(), 150 - 810);

    // The distances never changed, so the design size brings the design layout back.
    resizeTo(418, 397);
    if (QTest::currentTestFailed())
        return;
    QCOMPARE(placesOfAll(), design);
}

void TestCheckWindow::doubleClickOnControlsOpensNothing_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QPoint>("at"); // in the control, pixels; (-1, -1) for its middle

    const QPoint middle(-1, -1);
    QTest::newRow("label") << "lblDeviceName" << middle;
    QTest::newRow("disabled label") << "lblEXEName" << middle;
    QTest::newRow("result label") << "lblResult" << middle;
    QTest::newRow("timeout label") << "lblTimeout" << middle;
    QTest::newRow("text field") << "txtDeviceName" << middle;
    QTest::newRow("disabled text field") << "txtMail" << middle;
    QTest::newRow("option button") << "optCheck1" << middle;
    QTest::newRow("empty part of the upper frame") << "frameSettings" << QPoint(200, 76);
    QTest::newRow("caption of the lower frame") << "frameConn" << QPoint(30, 4);
    QTest::newRow("empty part of the lower frame") << "frameConn" << QPoint(200, 10);
    QTest::newRow("empty part of a trigger pair") << "picEXE" << QPoint(43, 20);
}

void TestCheckWindow::doubleClickOnControlsOpensNothing()
{
    QFETCH(QString, name);
    QFETCH(QPoint, at);

    QWidget *target = control(*m_form, name);
    const QPoint point = at == QPoint(-1, -1) ? target->rect().center() : at;
    QCOMPARE(m_form->childAt(target->mapTo(m_form.get(), point)) != nullptr, true);

    ModalWatch watch([](QWidget *modal) { modal->close(); });
    QTest::mouseDClick(target, Qt::LeftButton, {}, point);
    QVERIFY(!watch.seen());
}

void TestCheckWindow::doubleClickOnBackgroundOpensAbout()
{
    const QList<QPoint> background{{3, 200}, {200, 164}, {200, 393}, {414, 100}};
    for (const QPoint &point : background) {
        QVERIFY(!m_form->childAt(point));
        bool modalOverForm = false;
        QString shownCaption;
        ModalWatch watch([&](QWidget *modal) {
            modalOverForm = modal->isModal() && modal->parentWidget() == m_form.get();
            if (auto *title = modal->findChild<QLabel *>(QStringLiteral("lblTitle")))
                shownCaption = title->text();
            QTest::keyClick(modal, Qt::Key_Escape);
        });
        QTest::mouseDClick(m_form.get(), Qt::LeftButton, {}, point);
        // The double click returned only once the About window had closed.
        QVERIFY(watch.seen());
        QVERIFY(!watch.forced());
        QCOMPARE(watch.objectName(), QStringLiteral("frmAbout"));
        QVERIFY(modalOverForm);
        QCOMPARE(shownCaption, Version::caption());
        QCOMPARE(QApplication::activeModalWidget(), nullptr);
    }
    // A right double click is no double click of the window.
    ModalWatch watch([](QWidget *modal) { modal->close(); });
    QTest::mouseDClick(m_form.get(), Qt::RightButton, {}, background.first());
    QVERIFY(!watch.seen());
}

QTEST_MAIN(TestCheckWindow)
#include "tst_checkwindow.moc"
