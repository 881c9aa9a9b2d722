// The check window as the user meets it: how it looks when it opens, tab
// order, field rules, the port field and service list in step, the timeout
// bar, resizing, and the About window that a double click opens.
#include "LoopbackPeers.h"
#include "ModalWatch.h"
#include "WindowTesting.h"
#include "window/frmOstrel.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QScrollBar>
#include <QTest>

class TestCheckWindow : public QObject
{
    Q_OBJECT
    std::unique_ptr<frmOstrel> m_form;

    template <typename T = QWidget>
    T *find(const QString &name) const { return WindowTesting::control<T>(*m_form, name); }
    QString result() const { return find<QLabel>("lblResult")->text(); }
    int selectedKind() const
    {
        int selected = -1;
        for (int index = 0; index < 4; ++index)
            selected = find<QRadioButton>(QStringLiteral("optCheck%1").arg(index))->isChecked() ? index : selected;
        return selected;
    }

private slots:
    void init()
    {
        m_form = std::make_unique<frmOstrel>();
        m_form->Form_Load();
        QVERIFY(QTest::qWaitForWindowActive(m_form.get()));
    }
    void cleanup() { m_form.reset(); }

    // Captions, places, initial states and lights against the picture in the
    // README, which a person looked at; a moved control or a changed caption
    // shifts far more pixels than the few that font rendering may.
    void looksAsApproved()
    {
        const QImage shown = m_form->grab().toImage().convertToFormat(QImage::Format_RGB32);
        const QImage approved = QImage(QStringLiteral(OSTREL_WINDOW_PICTURE)).convertToFormat(QImage::Format_RGB32);
        QCOMPARE(shown.size(), approved.size());
        int differing = 0;
        for (int y = 0; y < shown.height(); ++y) {
            for (int x = 0; x < shown.width(); ++x) {
                const QRgb a = shown.pixel(x, y), b = approved.pixel(x, y);
                differing += std::max({std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)),
                                       std::abs(qBlue(a) - qBlue(b))}) > 48;
            }
        }
        const QString saved = QDir::temp().filePath(QStringLiteral("ostrel-window-shown.png"));
        QVERIFY2(differing <= 12 || !shown.save(saved), qPrintable(QStringLiteral("%1 pixels differ; see %2")
                                                                     .arg(differing).arg(saved)));
        QCOMPARE(m_form->windowTitle(), QStringLiteral("Ostrel " OSTREL_VERSION));
        QCOMPARE(QApplication::focusWidget(), find("txtDeviceName"));
    }

    void tabOrder_data()
    {
        QTest::addColumn<bool>("rowsOn");
        QTest::addColumn<QStringList>("order");
        // Tab enters each option group at its selected button only and skips disabled fields.
        QTest::newRow("as loaded") << false << QStringList{"txtDeviceName", "chkLogon", "optCheck3", "txtPort",
                                                          "cmbPorts", "HScroll1", "chkEXE", "optEXE1", "chkMail",
                                                          "optMail1", "btnCheck"};
        QTest::newRow("rows on, FTP, OK")
            << true << QStringList{"txtDeviceName", "optCheck0", "chkLogon", "txtPort", "cmbPorts", "HScroll1",
                                   "chkEXE", "optEXE0", "txtEXE", "txtArg", "chkMail", "optMail0", "txtMail",
                                   "txtMailServer", "btnBrowse", "btnCheck"};
    }
    void tabOrder()
    {
        QFETCH(bool, rowsOn);
        QFETCH(QStringList, order);
        if (rowsOn) {
            for (const char *name : {"chkEXE", "chkMail", "optCheck0", "optEXE0", "optMail0"})
                find<QAbstractButton>(name)->click();
        }
        find("txtDeviceName")->setFocus(Qt::TabFocusReason);
        QStringList visited{QApplication::focusWidget()->objectName()};
        for (int step = 0; step < order.size(); ++step) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            visited << QApplication::focusWidget()->objectName();
        }
        QCOMPARE(visited, order + QStringList{order.first()});
    }

    // Editing the name clears the last result; Enter checks only while the
    // name holds more than blanks (each check ends at once on a refused port).
    void deviceName_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<int>("backspaces");
        QTest::addColumn<bool>("enabled");
        QTest::newRow("blanks only") << "    " << 0 << false;
        QTest::newRow("an address") << "127.0.0.1" << 0 << true;
        QTest::newRow("blanks around it") << "  127.0.0.1  " << 0 << true;
        QTest::newRow("a digit after blanks taken back") << "  1" << 1 << false;
    }
    void deviceName()
    {
        QFETCH(QString, typed);
        QFETCH(int, backspaces);
        QFETCH(bool, enabled);
        const LoopbackPort refused = LoopbackPort::refused();
        find<QLineEdit>("txtPort")->setText(QString::number(refused.port()));
        find<QLabel>("lblResult")->setText(QStringLiteral("Port Available"));
        find("imgGreen")->show();
        auto *field = find<QLineEdit>("txtDeviceName");
        QTest::keyClicks(field, typed);
        for (int press = 0; press < backspaces; ++press)
            QTest::keyClick(field, Qt::Key_Backspace);
        QCOMPARE(find("btnCheck")->isEnabled(), enabled);
        QVERIFY(result().isEmpty() && !find("imgGreen")->isVisible());
        QTest::keyClick(find("txtPort"), Qt::Key_Return);
        QVERIFY(result().isEmpty());
        QTest::keyClick(field, Qt::Key_Enter, Qt::KeypadModifier);
        QCOMPARE(result(), enabled ? QStringLiteral("Port Un-Available") : QString());
        QCOMPARE(find("imgRed")->isVisible(), enabled);
    }

    void focus_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("way");
        QTest::addColumn<bool>("highlighted");
        for (const char *name : {"txtDeviceName", "txtEXE", "txtArg", "txtMail", "txtMailServer"})
            QTest::addRow("%s by Tab", name) << name << "tab" << true;
        QTest::newRow("device name by click") << "txtDeviceName" << "click" << true;
        QTest::newRow("port by Tab") << "txtPort" << "tab" << false;
        QTest::newRow("port by click") << "txtPort" << "click" << false;
        QTest::newRow("back from another window") << "txtDeviceName" << "window" << true;
    }
    // Entering a field selects its text (once: the next click places the
    // cursor), the highlighted ones take the tooltip colour until left;
    // coming back from another window keeps the user's own selection.
    void focus()
    {
        QFETCH(QString, name);
        QFETCH(QString, way);
        QFETCH(bool, highlighted);
        find<QCheckBox>("chkEXE")->click();
        find<QCheckBox>("chkMail")->click();
        auto *field = find<QLineEdit>(name);
        field->setText(QStringLiteral("hello world"));
        const QColor normal = QApplication::palette(field).color(QPalette::Base);
        const QColor info = QApplication::palette(field).color(QPalette::ToolTipBase);
        QWidget *elsewhere = find("HScroll1");
        elsewhere->setFocus(Qt::TabFocusReason);
        QString selected = field->text();
        if (way == QLatin1String("click")) {
            QTest::mouseClick(field, Qt::LeftButton, {}, QPoint(field->width() / 3, field->height() / 2));
        } else {
            field->setFocus(Qt::TabFocusReason);
        }
        if (way == QLatin1String("window")) {
            field->setSelection(0, 5);
            selected = QStringLiteral("hello");
            QWidget other;
            other.show();
            other.activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(&other));
            m_form->activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(m_form.get()));
        }
        QCOMPARE(QApplication::focusWidget(), field);
        QCOMPARE(field->selectedText(), selected);
        QCOMPARE(field->palette().color(QPalette::Base), highlighted ? info : normal);
        if (way == QLatin1String("click")) {
            QTest::mouseClick(field, Qt::LeftButton, {}, QPoint(3, field->height() / 2));
            QVERIFY(!field->hasSelectedText());
        }
        elsewhere->setFocus(Qt::TabFocusReason);
        QCOMPARE(field->palette().color(QPalette::Base), normal);
    }

    // Each box enables its own row (any state but cleared), keeps the texts,
    // and leaves the trigger options and the other row as they are.
    void checkBoxesEnableTheirRows()
    {
        const QStringList command{"lblEXEName", "lblArg", "txtEXE", "txtArg", "btnBrowse"};
        const QStringList mail{"lblEmailAddr", "lblMailServer", "txtMail", "txtMailServer"};
        const auto enabled = [this](const QStringList &names) {
            QStringList on;
            for (const QString &name : names)
                on << (find(name)->isEnabled() ? name : QString());
            return on;
        };
        find<QLineEdit>("txtEXE")->setText(QStringLiteral("kept"));
        auto *box = find<QCheckBox>("chkEXE");
        QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(6, box->height() / 2));
        QCOMPARE(enabled(command + mail), command + QStringList(mail.size()));
        box->setCheckState(Qt::PartiallyChecked);
        QCOMPARE(enabled(command), command);
        QTest::mouseClick(find<QCheckBox>("chkMail"), Qt::LeftButton, {}, QPoint(6, box->height() / 2));
        box->setCheckState(Qt::Unchecked);
        QCOMPARE(enabled(command + mail), QStringList(command.size()) + mail);
        QCOMPARE(find<QLineEdit>("txtEXE")->text(), QStringLiteral("kept"));
        QVERIFY(find("optEXE0")->isEnabled() && find("optMail1")->isEnabled());
    }

    // The wide fields and both frames keep their right margins, the lower
    // frame its bottom one, the buttons stay at the right edge; a size that
    // would be negative leaves a control at its last one; nothing else moves.
    void resizeKeepsMargins()
    {
        QMap<QString, QRect> design, expected;
        for (QWidget *child : m_form->findChildren<QWidget *>()) {
            if (!child->objectName().isEmpty() && !child->objectName().startsWith(QLatin1String("qt_")))
                design.insert(child->objectName(), child->geometry());
        }
        const QStringList wide{"txtDeviceName", "lblResult", "txtArg", "txtMail", "txtMailServer", "txtEXE",
                               "frameConn", "frameSettings"};
        expected = design;
        const QSize start = m_form->size();
        for (const QSize &size : {start + QSize(67, 30), QSize(100, 100), QSize(10, 10), start}) {
            m_form->resize(size);
            QTRY_COMPARE(m_form->size(), size);
            const QSize grown = size - start;
            for (const QString &name : wide) {
                const int width = design[name].width() + grown.width();
                if (width >= 0)
                    expected[name].setWidth(width);
            }
            if (design["frameConn"].height() + grown.height() >= 0)
                expected["frameConn"].setHeight(design["frameConn"].height() + grown.height());
            for (const char *button : {"btnCheck", "btnBrowse"})
                expected[button].moveLeft(design[button].x() + grown.width());
            for (auto place = expected.cbegin(); place != expected.cend(); ++place)
                QVERIFY2(find(place.key())->geometry() == place.value(), qPrintable(place.key()));
        }
    }

    void portAndList_data()
    {
        QTest::addColumn<QString>("portBefore");
        QTest::addColumn<int>("kindBefore");
        QTest::addColumn<QString>("action"); // "text:" sets the field, "type:" types, "choose:" picks, "kind:" clicks
        QTest::addColumn<QString>("portAfter");
        QTest::addColumn<QString>("entry");
        QTest::addColumn<int>("kindAfter");
        // A service from the list means Other Port; the catch-all leaves the kind alone.
        QTest::newRow("80 is HTTP") << "" << 0 << "text:80" << "80" << "HTTP" << 3;
        QTest::newRow("0 is ANY") << "" << 0 << "text:0" << "0" << "ANY" << 3;
        QTest::newRow("leading zero") << "" << 0 << "text:021" << "021" << "Other!" << 0;
        QTest::newRow("leading blank") << "" << 0 << "text: 21" << " 21" << "Other!" << 0;
        QTest::newRow("typing 2, then 5") << "21" << 1 << "type:25" << "25" << "SMTP" << 3;
        QTest::newRow("clearing") << "25" << 2 << "type:" << "" << "Other!" << 2;
        QTest::newRow("choosing ECHO") << "x" << 2 << "choose:ECHO" << "7" << "ECHO" << 3;
        QTest::newRow("choosing FTP is Other Port 21") << "x" << 2 << "choose:FTP" << "21" << "FTP" << 3;
        QTest::newRow("TFTP after HTTP") << "x" << 2 << "choose:TFTP" << "69" << "TFTP" << 3;
        QTest::newRow("choosing Other! changes nothing") << "80" << 0 << "choose:Other!" << "80" << "Other!" << 0;
        QTest::newRow("clicking a kind") << "80" << 3 << "kind:1" << "80" << "HTTP" << 1;
    }
    void portAndList()
    {
        QFETCH(QString, portBefore);
        QFETCH(int, kindBefore);
        QFETCH(QString, action);
        QFETCH(QString, portAfter);
        QFETCH(QString, entry);
        QFETCH(int, kindAfter);
        auto *port = find<QLineEdit>("txtPort");
        auto *list = find<QComboBox>("cmbPorts");
        QCOMPARE(list->currentIndex(), -1);
        port->setText(portBefore);
        QTest::mouseClick(find(QStringLiteral("optCheck%1").arg(kindBefore)), Qt::LeftButton);
        // A result on show goes whenever a kind is clicked or selected, and only then.
        find<QLabel>("lblResult")->setText(QStringLiteral("Port Un-Available"));
        const QString argument = action.section(QLatin1Char(':'), 1);
        if (action.startsWith(QLatin1String("text:"))) {
            port->setText(argument);
        } else if (action.startsWith(QLatin1String("choose:"))) {
            list->setCurrentIndex(list->findText(argument));
        } else if (action.startsWith(QLatin1String("kind:"))) {
            QTest::mouseClick(find(QStringLiteral("optCheck") + argument), Qt::LeftButton);
        } else {
            // Entering the field selects its text, so the first key replaces it.
            QTest::mouseClick(port, Qt::LeftButton);
            QTest::keyClick(port, Qt::Key_Backspace);
            QTest::keyClicks(port, argument);
        }
        QCOMPARE(port->text(), portAfter);
        QCOMPARE(list->currentText(), entry);
        QCOMPARE(selectedKind(), kindAfter);
        QCOMPARE(result().isEmpty(), kindAfter != kindBefore || action.startsWith(QLatin1String("kind:")));
    }

    // Right raises the timeout, a page is one second, 1 to 60; the label
    // follows every position of a dragged thumb.
    void timeoutBar()
    {
        auto *bar = find<QScrollBar>("HScroll1");
        QStringList seen;
        bar->setFocus(Qt::TabFocusReason);
        for (const Qt::Key key : {Qt::Key_Right, Qt::Key_End, Qt::Key_Right, Qt::Key_Home, Qt::Key_Left}) {
            QTest::keyClick(bar, key);
            seen << find<QLabel>("lblTimeout")->text();
        }
        bar->triggerAction(QAbstractSlider::SliderPageStepAdd);
        bar->setSliderDown(true);
        bar->setSliderPosition(30);
        seen << QString::number(bar->value()) << find<QLabel>("lblTimeout")->text();
        QCOMPARE(seen, (QStringList{"Timeout (sec) : 16", "Timeout (sec) : 60", "Timeout (sec) : 60",
                                    "Timeout (sec) : 1", "Timeout (sec) : 1", "30", "Timeout (sec) : 30"}));
    }

    void doubleClick_data()
    {
        QTest::addColumn<QString>("target");
        QTest::addColumn<QPoint>("at"); // (-1, -1): the middle
        QTest::addColumn<QString>("then"); // what is done in the About window; "" when none may open
        QTest::addColumn<bool>("closes");
        const QPoint middle(-1, -1), background(3, 200);
        QTest::newRow("label") << "lblDeviceName" << middle << "" << false;
        QTest::newRow("text field") << "txtDeviceName" << middle << "" << false;
        QTest::newRow("disabled text field") << "txtMail" << middle << "" << false;
        QTest::newRow("bare part of a frame") << "frameSettings" << QPoint(200, 76) << "" << false;
        QTest::newRow("bare part of a trigger pair") << "picEXE" << QPoint(43, 20) << "" << false;
        QTest::newRow("background, Escape") << "frmOstrel" << background << "Escape" << true;
        QTest::newRow("background, Close") << "frmOstrel" << background << "click btnClose" << true;
        QTest::newRow("background, icon") << "frmOstrel" << background << "double imgIcon" << true;
        QTest::newRow("background, icon once") << "frmOstrel" << background << "click imgIcon" << false;
        QTest::newRow("background, title") << "frmOstrel" << background << "double lblTitle" << false;
    }
    // Only the window's bare background opens the About window, modal over
    // it; the double click returns once it has closed.
    void doubleClick()
    {
        QFETCH(QString, target);
        QFETCH(QPoint, at);
        QFETCH(QString, then);
        QFETCH(bool, closes);
        QWidget *widget = target == m_form->objectName() ? m_form.get() : find(target);
        bool modalOverForm = false, openAfter = false;
        ModalWatch watch([&](QWidget *about) {
            modalOverForm = about->isModal() && about->parentWidget() == m_form.get()
                && about->windowTitle() == QLatin1String("About Ostrel");
            QWidget *part = about->findChild<QWidget *>(then.section(QLatin1Char(' '), 1));
            if (then == QLatin1String("Escape"))
                QTest::keyClick(about, Qt::Key_Escape);
            else if (then.startsWith(QLatin1String("click")))
                QTest::mouseClick(part, Qt::LeftButton);
            else if (part)
                QTest::mouseDClick(part, Qt::LeftButton);
            openAfter = about->isVisible();
            about->close();
        });
        QTest::mouseDClick(widget, Qt::LeftButton, {}, at == QPoint(-1, -1) ? widget->rect().center() : at);
        QCOMPARE(watch.seen(), !then.isEmpty());
        QCOMPARE(modalOverForm, !then.isEmpty());
        QCOMPARE(openAfter, !then.isEmpty() && !closes);
        // A right double click is no double click of the window.
        ModalWatch none([](QWidget *modal) { modal->close(); });
        QTest::mouseDClick(widget, Qt::RightButton, {}, QPoint(3, 3));
        QVERIFY(!none.seen());
    }
};

WINDOW_TEST(TestCheckWindow)
#include "tst_checkwindow.moc"
