// The check kind, the port field and the service list keeping each other in
// step, and the timeout bar with its label.
#include "WindowTesting.h"
#include "window/frmOstrel.h"

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QStyleOptionSlider>
#include <QTest>
#include <memory>

using WindowTesting::control;

namespace {

struct Entry {
    const char *name;
    int port;
};

const Entry kEntries[] = {
    {"ANY", 0},         {"ECHO", 7},        {"DISCARD", 9},     {"SYSTAT", 11}, {"DAYTIME", 13}, {"NETSTAT", 15},
    {"FTP", 21},        {"TELNET", 23},     {"SMTP", 25},       {"TIMESERVER", 37}, {"NAMESERVER", 42},
    {"WHOIS", 43},      {"MTP", 57},        {"FINGER", 79},     {"HTTP", 80},   {"TFTP", 69},    {"Other!", 0},
};

const QString kOther = QStringLiteral("Other!");

} // namespace

class TestPortSelection : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void serviceList();
    void portTextSelectsEntry_data();
    void portTextSelectsEntry();
    void typingTwoThenFive();
    void clearingSelectsOtherAndKeepsKind();
    void choosingEntry_data();
    void choosingEntry();
    void choosingByKeyboard();
    void choosingOtherChangesNothing();
    void rulesRunOncePerChange();
    void kindClickClearsResultOnly_data();
    void kindClickClearsResultOnly();

    void timeoutBounds_data();
    void timeoutBounds();
    void timeoutFollowsDraggedThumb();

private:
    QLineEdit *port() const { return control<QLineEdit>(*m_form, QStringLiteral("txtPort")); }
    QComboBox *list() const { return control<QComboBox>(*m_form, QStringLiteral("cmbPorts")); }
    QRadioButton *kind(int index) const
    {
        return control<QRadioButton>(*m_form, QStringLiteral("optCheck%1").arg(index));
    }
    int selectedKind() const;
    QScrollBar *bar() const { return control<QScrollBar>(*m_form, QStringLiteral("HScroll1")); }
    QString timeoutLabel() const { return control<QLabel>(*m_form, QStringLiteral("lblTimeout"))->text(); }
    void showResult();
    bool resultCleared() const;

    std::unique_ptr<frmOstrel> m_form;
};

void TestPortSelection::init()
{
    m_form = std::make_unique<frmOstrel>();
    m_form->Form_Load();
    QVERIFY(QTest::qWaitForWindowActive(m_form.get()));
}

void TestPortSelection::cleanup()
{
    m_form.reset();
}

int TestPortSelection::selectedKind() const
{
    int selected = -1;
    for (int index = 0; index < 4; ++index) {
        if (kind(index)->isChecked()) {
            if (selected != -1)
                return -2;
            selected = index;
        }
    }
    return selected;
}

void TestPortSelection::showResult()
{
    control<QLabel>(*m_form, QStringLiteral("lblResult"))->setText(QStringLiteral("Port Un-Available"));
    control(*m_form, QStringLiteral("imgRed"))->show();
}

bool TestPortSelection::resultCleared() const
{
    return control<QLabel>(*m_form, QStringLiteral("lblResult"))->text().isEmpty()
        && !control(*m_form, QStringLiteral("imgRed"))->isVisible()
        && !control(*m_form, QStringLiteral("imgGreen"))->isVisible();
}

void TestPortSelection::serviceList()
{
    QComboBox *services = list();
    QVERIFY(!services->isEditable());
    QCOMPARE(services->currentIndex(), -1);
    QCOMPARE(services->count(), int(std::size(kEntries)));
    for (int index = 0; index < services->count(); ++index) {
        QCOMPARE(services->itemText(index), QLatin1String(kEntries[index].name));
        QCOMPARE(services->itemData(index).toInt(), kEntries[index].port);
    }
}

void TestPortSelection::portTextSelectsEntry_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("entry");

    for (const Entry &entry : kEntries) {
        if (QLatin1String(entry.name) != kOther)
            QTest::newRow(entry.name) << QString::number(entry.port) << QString::fromLatin1(entry.name);
    }
    QTest::newRow("empty") << "" << kOther;
    QTest::newRow("leading zero") << "021" << kOther;
    QTest::newRow("leading blank") << " 21" << kOther;
    QTest::newRow("trailing blank") << "21 " << kOther;
    QTest::newRow("sign") << "+21" << kOther;
    QTest::newRow("fraction") << "21.0" << kOther;
    QTest::newRow("unknown port") << "8080" << kOther;
    QTest::newRow("letters") << "http" << kOther;
    QTest::newRow("entry name") << "FTP" << kOther;
}

void TestPortSelection::portTextSelectsEntry()
{
    QFETCH(QString, text);
    QFETCH(QString, entry);

    port()->clear();
    QTest::mouseClick(kind(0), Qt::LeftButton);
    QCOMPARE(selectedKind(), 0);

    port()->setText(text);
    QCOMPARE(list()->currentText(), entry);
    QCOMPARE(port()->text(), text);
    // A service from the list means Other Port; the catch-all leaves the kind alone.
    QCOMPARE(selectedKind(), entry == kOther ? 0 : 3);
}

void TestPortSelection::typingTwoThenFive()
{
    QTest::mouseClick(kind(1), Qt::LeftButton);
    QTest::mouseClick(port(), Qt::LeftButton);
    QCOMPARE(port()->selectedText(), QStringLiteral("21"));
    QTest::keyClick(port(), Qt::Key_Delete);
    QCOMPARE(port()->text(), QString());

    QTest::keyClick(port(), Qt::Key_2);
    QCOMPARE(list()->currentText(), kOther);
    QCOMPARE(selectedKind(), 1);

    QTest::keyClick(port(), Qt::Key_5);
    QCOMPARE(port()->text(), QStringLiteral("25"));
    QCOMPARE(list()->currentText(), QStringLiteral("SMTP"));
    QCOMPARE(selectedKind(), 3);
}

void TestPortSelection::clearingSelectsOtherAndKeepsKind()
{
    port()->setText(QStringLiteral("25"));
    QCOMPARE(list()->currentText(), QStringLiteral("SMTP"));
    QTest::mouseClick(kind(2), Qt::LeftButton);

    port()->setFocus(Qt::TabFocusReason);
    QCOMPARE(port()->selectedText(), QStringLiteral("25"));
    QTest::keyClick(port(), Qt::Key_Backspace);
    QCOMPARE(port()->text(), QString());
    QCOMPARE(list()->currentText(), kOther);
    QCOMPARE(selectedKind(), 2);
}

void TestPortSelection::choosingEntry_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("text");

    for (int index = 0; index + 1 < int(std::size(kEntries)); ++index)
        QTest::newRow(kEntries[index].name) << index << QString::number(kEntries[index].port);
}

void TestPortSelection::choosingEntry()
{
    QFETCH(int, index);
    QFETCH(QString, text);

    port()->setText(QStringLiteral("not a port"));
    QTest::mouseClick(kind(2), Qt::LeftButton);
    showResult();

    list()->setCurrentIndex(index);
    QCOMPARE(port()->text(), text);
    QCOMPARE(list()->currentIndex(), index);
    // "FTP" in the list probes port 21 as Other Port, not as the FTP kind.
    QCOMPARE(selectedKind(), 3);
    QVERIFY(resultCleared());
}

void TestPortSelection::choosingByKeyboard()
{
    port()->setText(QStringLiteral("1234"));
    QTest::mouseClick(kind(1), Qt::LeftButton);
    list()->setFocus(Qt::TabFocusReason);

    QTest::keyClick(list(), Qt::Key_Home);
    QCOMPARE(list()->currentText(), QStringLiteral("ANY"));
    QCOMPARE(port()->text(), QStringLiteral("0"));
    QCOMPARE(selectedKind(), 3);

    QTest::mouseClick(kind(0), Qt::LeftButton);
    list()->setFocus(Qt::TabFocusReason);
    QTest::keyClick(list(), Qt::Key_Down);
    QCOMPARE(list()->currentText(), QStringLiteral("ECHO"));
    QCOMPARE(port()->text(), QStringLiteral("7"));
    QCOMPARE(selectedKind(), 3);
}

void TestPortSelection::choosingOtherChangesNothing()
{
    port()->setText(QStringLiteral("80"));
    QCOMPARE(list()->currentText(), QStringLiteral("HTTP"));
    QTest::mouseClick(kind(0), Qt::LeftButton);

    list()->setCurrentIndex(list()->count() - 1);
    QCOMPARE(list()->currentText(), kOther);
    QCOMPARE(port()->text(), QStringLiteral("80"));
    QCOMPARE(selectedKind(), 0);
}

void TestPortSelection::rulesRunOncePerChange()
{
    QSignalSpy textChanges(port(), &QLineEdit::textChanged);
    QSignalSpy listChanges(list(), &QComboBox::currentIndexChanged);

    // The field already holds "21": choosing FTP writes nothing.
    list()->setCurrentIndex(6);
    QCOMPARE(textChanges.count(), 0);
    QCOMPARE(listChanges.count(), 1);
    QCOMPARE(selectedKind(), 3);

    // HTTP writes "80" once; the text rule then finds HTTP already chosen.
    list()->setCurrentIndex(14);
    QCOMPARE(textChanges.count(), 1);
    QCOMPARE(listChanges.count(), 2);

    // Typing "8" over it: one text change, one move to the catch-all.
    port()->setFocus(Qt::TabFocusReason);
    QTest::keyClick(port(), Qt::Key_8);
    QCOMPARE(port()->text(), QStringLiteral("8"));
    QCOMPARE(textChanges.count(), 2);
    QCOMPARE(listChanges.count(), 3);
    QCOMPARE(list()->currentText(), kOther);
}

void TestPortSelection::kindClickClearsResultOnly_data()
{
    QTest::addColumn<int>("clicked");
    QTest::newRow("FTP") << 0;
    QTest::newRow("Ping/Echo") << 1;
    QTest::newRow("SMTP") << 2;
    QTest::newRow("Other Port, already selected") << 3;
}

void TestPortSelection::kindClickClearsResultOnly()
{
    QFETCH(int, clicked);

    port()->setText(QStringLiteral("80"));
    showResult();
    QTest::mouseClick(kind(clicked), Qt::LeftButton);
    QCOMPARE(selectedKind(), clicked);
    QVERIFY(resultCleared());
    QCOMPARE(port()->text(), QStringLiteral("80"));
    QCOMPARE(list()->currentText(), QStringLiteral("HTTP"));
}

void TestPortSelection::timeoutBounds_data()
{
    QTest::addColumn<int>("start");
    QTest::addColumn<QString>("action");
    QTest::addColumn<int>("value");

    QTest::newRow("set 0") << 15 << "set 0" << 1;
    QTest::newRow("set -5") << 15 << "set -5" << 1;
    QTest::newRow("set 61") << 15 << "set 61" << 60;
    QTest::newRow("set 30") << 15 << "set 30" << 30;
    QTest::newRow("End") << 15 << "End" << 60;
    QTest::newRow("Home") << 15 << "Home" << 1;
    QTest::newRow("Right at 60") << 60 << "Right" << 60;
    QTest::newRow("Left at 1") << 1 << "Left" << 1;
    QTest::newRow("Right") << 15 << "Right" << 16;
    QTest::newRow("Left") << 15 << "Left" << 14;
    QTest::newRow("page step up") << 15 << "PageUp" << 16;
    QTest::newRow("page step down") << 15 << "PageDown" << 14;
    QTest::newRow("page step up at 60") << 60 << "PageUp" << 60;
    QTest::newRow("page step down at 1") << 1 << "PageDown" << 1;
}

void TestPortSelection::timeoutBounds()
{
    QFETCH(int, start);
    QFETCH(QString, action);
    QFETCH(int, value);

    QScrollBar *timeout = bar();
    timeout->setValue(start);
    timeout->setFocus(Qt::TabFocusReason);
    if (action.startsWith(QLatin1String("set ")))
        timeout->setValue(action.mid(4).toInt());
    else if (action == QLatin1String("End"))
        QTest::keyClick(timeout, Qt::Key_End);
    else if (action == QLatin1String("Home"))
        QTest::keyClick(timeout, Qt::Key_Home);
    else if (action == QLatin1String("Right"))
        QTest::keyClick(timeout, Qt::Key_Right);
    else if (action == QLatin1String("Left"))
        QTest::keyClick(timeout, Qt::Key_Left);
    else if (action == QLatin1String("PageUp"))
        timeout->triggerAction(QAbstractSlider::SliderPageStepAdd);
    else if (action == QLatin1String("PageDown"))
        timeout->triggerAction(QAbstractSlider::SliderPageStepSub);
    else
        QFAIL("unknown action");

    QCOMPARE(timeout->value(), value);
    QCOMPARE(timeoutLabel(), QStringLiteral("Timeout (sec) : %1").arg(value));
}

void TestPortSelection::timeoutFollowsDraggedThumb()
{
    QScrollBar *timeout = bar();
    QStyleOptionSlider option;
    option.initFrom(timeout);
    option.orientation = Qt::Horizontal;
    option.state |= QStyle::State_Horizontal;
    option.minimum = timeout->minimum();
    option.maximum = timeout->maximum();
    option.sliderPosition = timeout->sliderPosition();
    option.sliderValue = timeout->value();
    option.singleStep = timeout->singleStep();
    option.pageStep = timeout->pageStep();
    option.subControls = QStyle::SC_All;
    const QRect thumb = timeout->style()->subControlRect(QStyle::CC_ScrollBar, &option,
                                                         QStyle::SC_ScrollBarSlider, timeout);
    QVERIFY(!thumb.isEmpty());

    QTest::mousePress(timeout, Qt::LeftButton, {}, thumb.center());
    QVERIFY(timeout->isSliderDown());
    QList<int> seen;
    for (int offset = 6; offset <= 60; offset += 6) {
        QTest::mouseMove(timeout, thumb.center() + QPoint(offset, 0));
        QVERIFY(timeout->isSliderDown());
        QCOMPARE(timeoutLabel(), QStringLiteral("Timeout (sec) : %1").arg(timeout->value()));
        if (seen.isEmpty() || seen.last() != timeout->value())
            seen << timeout->value();
    }
    // The label followed the thumb through several values before the button came up.
    QVERIFY2(seen.size() >= 3, qPrintable(QString::number(seen.size())));
    QVERIFY(seen.first() > 15);
    QTest::mouseRelease(timeout, Qt::LeftButton, {}, thumb.center() + QPoint(60, 0));
    QVERIFY(!timeout->isSliderDown());
    QCOMPARE(timeoutLabel(), QStringLiteral("Timeout (sec) : %1").arg(timeout->value()));
}

QTEST_MAIN(TestPortSelection)
#include "tst_portselection.moc"
