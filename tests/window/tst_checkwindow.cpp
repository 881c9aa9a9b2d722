// The check window as the user meets it: its look as it opens, tab order,
// field rules, port field and service list in step, resizing, the About
// window, the browse dialog, Escape and F2, and the stored settings.
#include "LoopbackPeers.h"
#include "MarkerScript.h"
#include "WindowTesting.h"
#include "shell/MessageBox.h"
#include "window/frmOstrel.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QScrollBar>
#include <QSettings>
#include <QTimer>

using Texts = QMap<QString, QString>;

struct FocusRow { const char *name; const char *field; bool byClick; bool highlighted; };
struct PortRow { const char *name; const char *before; int kindBefore; const char *action; const char *after; const char *entry; int kindAfter; };
struct ClickRow { const char *name; const char *target; QPoint at; const char *then; bool closes; };
struct StoredRow { const char *name; Texts stored; Texts shown; };
struct FileRow { const char *name; const char *file; QByteArray content; bool ownFileUsed; };
Q_DECLARE_METATYPE(FocusRow)
Q_DECLARE_METATYPE(PortRow)
Q_DECLARE_METATYPE(ClickRow)
Q_DECLARE_METATYPE(StoredRow)
Q_DECLARE_METATYPE(FileRow)

class TestCheckWindow : public QObject
{
    Q_OBJECT
    std::unique_ptr<TemporarySettings> m_settings;
    std::unique_ptr<frmOstrel> m_form;
    Texts m_created; // what the window shows as it opens with nothing stored

    template <typename T = QWidget>
    T *find(const QString &name) const { return WindowTesting::control<T>(*m_form, name); }
    frmOstrel &open()
    {
        m_form = std::make_unique<frmOstrel>();
        m_form->Form_Load();
        (void)QTest::qWaitForWindowActive(m_form.get());
        return *m_form;
    }
    QString result() const { return find<QLabel>("lblResult")->text(); }
    // A check on the device name as it stands, ended at once by a message; the fields are then due for storing.
    void startCheck()
    {
        MessageBox::setNextAnswer(QMessageBox::Ok);
        find<QAbstractButton>("btnCheck")->click();
        QCOMPARE(MessageBox::takeShown().size(), 1);
    }
    // What the user sees of every stored field, and of the rules that follow them.
    Texts shown() const
    {
        Texts shown;
        for (QLineEdit *field : m_form->findChildren<QLineEdit *>())
            shown[field->objectName()] = field->text();
        for (QAbstractButton *box : m_form->findChildren<QAbstractButton *>()) {
            if (qobject_cast<QRadioButton *>(box) && box->isChecked())
                shown[box->objectName().chopped(1)] = box->text().trimmed();
            if (auto *tick = qobject_cast<QCheckBox *>(box))
                shown[box->objectName()] = QStringList{"cleared", "greyed", "ticked"}.at(tick->checkState());
            shown[box->objectName() + " on"] = box->isEnabled() ? "yes" : "no";
        }
        shown["lblTimeout"] = find<QLabel>("lblTimeout")->text();
        shown["cmbPorts"] = find<QComboBox>("cmbPorts")->currentText();
        return shown;
    }

private slots:
    void initTestCase()
    {
        // Without a display no document is ever handed to a browser.
        qunsetenv("DISPLAY");
        const TemporarySettings nothing;
        m_created = (open(), shown());
    }
    void init()
    {
        m_settings = std::make_unique<TemporarySettings>();
        open();
        QVERIFY(QTest::qWaitForWindowActive(m_form.get()));
    }
    void cleanup()
    {
        m_form.reset();
        m_settings.reset();
        MessageBox::takeShown();
    }

    // Captions, places, initial states and lights against the README's
    // picture, which a person looked at; a moved control or a changed caption
    // shifts more pixels than font rendering may (a full stop added: 3).
    void looksAsApproved()
    {
        const QImage shown = m_form->grab().toImage().convertToFormat(QImage::Format_RGB32);
        const QImage approved = QImage(QStringLiteral(OSTREL_WINDOW_PICTURE)).convertToFormat(QImage::Format_RGB32);
        QCOMPARE(shown.size(), approved.size());
        int differing = 0;
        for (int y = 0; y < shown.height(); ++y) {
            for (int x = 0; x < shown.width(); ++x) {
                const QRgb a = shown.pixel(x, y), b = approved.pixel(x, y);
                differing += std::abs(qGray(a) - qGray(b)) > 48;
            }
        }
        QVERIFY2(differing <= 2, qPrintable(QString::number(differing) + " pixels differ"));
        QCOMPARE(m_form->windowTitle(), QStringLiteral("Ostrel " OSTREL_VERSION));
        QCOMPARE(QApplication::focusWidget(), find("txtDeviceName"));
    }

    // Tab enters each option group at its selected button only and skips
    // disabled fields: each box enables its own row, unticked disables it again.
    void tabOrder()
    {
        for (bool rowsOn : {true, false}) {
            for (const char *name : {"chkEXE", "chkMail"})
                find<QAbstractButton>(name)->setChecked(rowsOn);
            for (const char *name : {"optCheck0", "optEXE0", "optMail0", "optCheck3", "optEXE1", "optMail1"})
                find<QAbstractButton>(name)->setChecked(rowsOn == QByteArray(name).endsWith('0'));
            const QStringList order = rowsOn
                ? QStringList{"txtDeviceName", "optCheck0", "chkLogon", "txtPort", "cmbPorts", "HScroll1", "chkEXE",
                              "optEXE0", "txtEXE", "txtArg", "chkMail", "optMail0", "txtMail", "txtMailServer",
                              "btnBrowse", "btnCheck", "txtDeviceName"}
                : QStringList{"txtDeviceName", "chkLogon", "optCheck3", "txtPort", "cmbPorts", "HScroll1",
                              "chkEXE", "optEXE1", "chkMail", "optMail1", "btnCheck", "txtDeviceName"};
            find("txtDeviceName")->setFocus(Qt::TabFocusReason);
            QStringList visited{"txtDeviceName"};
            while (visited.size() < order.size()) {
                QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
                visited << QApplication::focusWidget()->objectName();
            }
            QCOMPARE(visited, order);
        }
    }

    // Editing the name clears the last result; Enter checks only while the
    // name holds more than blanks (on a refused port, so it ends at once).
    void deviceName()
    {
        const LoopbackPort refused = LoopbackPort::refused();
        find<QLineEdit>("txtPort")->setText(QString::number(refused.port()));
        auto *field = find<QLineEdit>("txtDeviceName");
        for (const auto &[typed, enabled] : {std::pair{"   ", false}, {" 1\b", false}, {"  127.0.0.1 ", true}}) {
            find<QLabel>("lblResult")->setText(QStringLiteral("Port Available"));
            field->clear();
            QTest::keyClicks(field, QLatin1String(typed).chopped(QByteArray(typed).endsWith('\b')));
            if (QByteArray(typed).endsWith('\b'))
                QTest::keyClick(field, Qt::Key_Backspace);
            QCOMPARE(find("btnCheck")->isEnabled(), enabled);
            QVERIFY(result().isEmpty());
            QTest::keyClick(find("txtPort"), Qt::Key_Return);
            QTest::keyClick(field, Qt::Key_Enter, Qt::KeypadModifier);
            QCOMPARE(result(), enabled ? QStringLiteral("Port Un-Available") : QString());
        }
    }

    void focus_data()
    {
        ROWS(FocusRow, (std::initializer_list<FocusRow>{{"device name", "txtDeviceName", false, true},
            {"command", "txtEXE", false, true}, {"argument", "txtArg", false, true}, {"recipients", "txtMail", false, true},
            {"mail server", "txtMailServer", true, true}, {"port", "txtPort", false, false}, {"port by click", "txtPort", true, false}}))
    }
    // Entering a field selects its text, once (the next click places the
    // cursor); the highlighted ones take the tooltip colour until left, also
    // while another window is active.
    void focus()
    {
        QFETCH(FocusRow, row);
        find<QCheckBox>("chkEXE")->click();
        find<QCheckBox>("chkMail")->click();
        auto *field = find<QLineEdit>(row.field);
        field->setText(QStringLiteral("hello world"));
        const QColor normal = QApplication::palette(field).color(QPalette::Base);
        const QColor colour = row.highlighted ? QApplication::palette(field).color(QPalette::ToolTipBase) : normal;
        find("HScroll1")->setFocus(Qt::TabFocusReason);
        if (row.byClick)
            QTest::mouseClick(field, Qt::LeftButton, {}, QPoint(field->width() / 3, field->height() / 2));
        else
            field->setFocus(Qt::TabFocusReason);
        QCOMPARE(field->selectedText(), field->text());
        QCOMPARE(field->palette().color(QPalette::Base), colour);
        field->setSelection(0, 5);
        QWidget other;
        other.show();
        QVERIFY(QTest::qWaitForWindowActive(&other));
        m_form->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(m_form.get()));
        QCOMPARE(field->selectedText(), QStringLiteral("hello"));
        QCOMPARE(field->palette().color(QPalette::Base), colour);
        QTest::mouseClick(field, Qt::LeftButton, {}, QPoint(3, field->height() / 2));
        QVERIFY(!field->hasSelectedText());
        find("HScroll1")->setFocus(Qt::TabFocusReason);
        QCOMPARE(field->palette().color(QPalette::Base), normal);
    }

    // The wide fields and both frames keep their right margins, the lower
    // frame its bottom one, the buttons stay at the right edge; a size that
    // would be negative leaves a control as it was; nothing else moves.
    void resizeKeepsMargins()
    {
        QMap<QString, QRect> design;
        for (QWidget *child : m_form->findChildren<QWidget *>()) {
            if (!child->objectName().isEmpty() && !child->objectName().startsWith(QLatin1String("qt_")))
                design.insert(child->objectName(), child->geometry());
        }
        QMap<QString, QRect> expected = design;
        const QSize start = m_form->size();
        for (const QSize &size : {start + QSize(67, 30), QSize(100, 100), QSize(10, 10), start}) {
            m_form->resize(size);
            const QSize grown = size - start;
            for (const char *name : {"txtDeviceName", "lblResult", "txtArg", "txtMail", "txtMailServer", "txtEXE",
                                     "frameConn", "frameSettings"}) {
                if (design[name].width() + grown.width() >= 0)
                    expected[name].setWidth(design[name].width() + grown.width());
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
        // A service from the list means Other Port; the catch-all leaves the kind alone.
        ROWS(PortRow, (std::initializer_list<PortRow>{
            {"80 is HTTP", "", 0, "text:80", "80", "HTTP", 3}, {"0 is ANY", "", 0, "text:0", "0", "ANY", 3},
            {"leading zero", "", 0, "text:021", "021", "Other!", 0}, {"leading blank", "", 0, "text: 21", " 21", "Other!", 0},
            {"typing 2, then 5", "21", 1, "type:25", "25", "SMTP", 3}, {"clearing", "25", 2, "type:", "", "Other!", 2},
            {"choosing ECHO", "x", 2, "choose:ECHO", "7", "ECHO", 3}, {"choosing FTP", "x", 2, "choose:FTP", "21", "FTP", 3},
            {"choosing Other!", "80", 0, "choose:Other!", "80", "Other!", 0},
            {"clicking a kind", "80", 3, "kind:1", "80", "HTTP", 1}}))
    }
    void portAndList()
    {
        QFETCH(PortRow, row);
        auto *port = find<QLineEdit>("txtPort");
        auto *list = find<QComboBox>("cmbPorts");
        QCOMPARE(list->currentIndex(), -1);
        port->setText(QLatin1String(row.before));
        QTest::mouseClick(find(QStringLiteral("optCheck%1").arg(row.kindBefore)), Qt::LeftButton);
        find<QLabel>("lblResult")->setText(QStringLiteral("Port Un-Available"));
        const QString action = QLatin1String(row.action), argument = action.section(':', 1);
        if (action.startsWith("text:"))
            port->setText(argument);
        else if (action.startsWith("choose:"))
            list->setCurrentIndex(list->findText(argument));
        else if (action.startsWith("kind:"))
            QTest::mouseClick(find("optCheck" + argument), Qt::LeftButton);
        else // entering the field selects its text, so the first key replaces it
            QTest::mouseClick(port, Qt::LeftButton), QTest::keyClick(port, Qt::Key_Backspace), QTest::keyClicks(port, argument);
        QCOMPARE(port->text(), QLatin1String(row.after));
        QCOMPARE(list->currentText(), QLatin1String(row.entry));
        QCOMPARE(shown().value("optCheck"), find<QAbstractButton>(QStringLiteral("optCheck%1").arg(row.kindAfter))->text().trimmed());
        // A result on show goes whenever a kind is clicked or selected, and only then.
        QCOMPARE(result().isEmpty(), row.kindAfter != row.kindBefore || action.startsWith("kind:"));
    }

    // Right raises the timeout, a page is one second, 1 to 60; the label follows a dragged thumb.
    void timeoutBar()
    {
        auto *bar = find<QScrollBar>("HScroll1");
        QStringList seen;
        bar->setFocus(Qt::TabFocusReason);
        for (const Qt::Key key : {Qt::Key_Right, Qt::Key_End, Qt::Key_Right, Qt::Key_Home, Qt::Key_Left}) {
            QTest::keyClick(bar, key);
            seen << find<QLabel>("lblTimeout")->text().section(": ", 1);
        }
        bar->triggerAction(QAbstractSlider::SliderPageStepAdd);
        seen << QString::number(bar->value());
        bar->setSliderDown(true);
        bar->setSliderPosition(30);
        seen << find<QLabel>("lblTimeout")->text();
        QCOMPARE(seen, (QStringList{"16", "60", "60", "1", "1", "2", "Timeout (sec) : 30"}));
    }

    void doubleClick_data()
    {
        const QPoint middle(-1, -1), background(3, 200);
        ROWS(ClickRow, (std::initializer_list<ClickRow>{
            {"label", "lblDeviceName", middle, "", false}, {"text field", "txtDeviceName", middle, "", false},
            {"disabled field", "txtMail", middle, "", false}, {"bare frame", "frameSettings", QPoint(200, 76), "", false},
            {"bare trigger pair", "picEXE", QPoint(43, 20), "", false},
            {"background, Escape", "frmOstrel", background, "Escape", true},
            {"background, Close", "frmOstrel", background, "click btnClose", true},
            {"background, icon", "frmOstrel", background, "double imgIcon", true},
            {"background, icon once", "frmOstrel", background, "click imgIcon", false}}))
    }
    // Only the window's bare background opens the About window, modal over it.
    void doubleClick()
    {
        QFETCH(ClickRow, row);
        QWidget *widget = row.target == m_form->objectName() ? m_form.get() : find(row.target);
        const QString then = QLatin1String(row.then);
        bool aboutOverForm = false, openAfter = false;
        ModalWatch watch([&](QWidget *about) {
            aboutOverForm = about->isModal() && about->parentWidget() == m_form.get()
                && about->windowTitle() == QLatin1String("About Ostrel");
            QWidget *part = about->findChild<QWidget *>(then.section(' ', 1));
            if (then == QLatin1String("Escape"))
                QTest::keyClick(about, Qt::Key_Escape);
            else if (then.startsWith(QLatin1String("click")))
                QTest::mouseClick(part, Qt::LeftButton);
            else if (part)
                QTest::mouseDClick(part, Qt::LeftButton);
            openAfter = about->isVisible();
            about->close();
        });
        QTest::mouseDClick(widget, Qt::LeftButton, {}, row.at == QPoint(-1, -1) ? widget->rect().center() : row.at);
        QCOMPARE(aboutOverForm, !then.isEmpty());
        QCOMPARE(openAfter, !then.isEmpty() && !row.closes);
        ModalWatch none([](QWidget *modal) { modal->close(); }); // a right double click is none of the window's
        QTest::mouseDClick(widget, Qt::RightButton, {}, QPoint(3, 3));
        QVERIFY(!none.seen());
    }

    // What the dialog lists for a real folder under each filter, and what the command field takes from it.
    void browse()
    {
        QTemporaryDir folder;
        QVERIFY(QDir(folder.path()).mkdir("tools"));
        QVERIFY(MarkerScript::writeExecutable(folder.filePath("check port.sh"), "#!/bin/sh\n"));
        for (const char *plain : {"notes.txt", "setup.exe", "README"})
            QVERIFY(QFile(folder.filePath(plain)).open(QIODevice::WriteOnly));
        find<QCheckBox>("chkEXE")->click();
        find<QLineEdit>("txtEXE")->setText(QStringLiteral("/opt/old command"));
        QStringList seen;
        for (const QString &chosen : {QString(), folder.filePath("check port.sh")}) {
            ModalWatch watch([&](QWidget *modal) {
                auto *types = modal->findChild<QComboBox *>(QStringLiteral("fileTypeCombo"));
                auto *view = modal->findChild<QAbstractItemView *>(QStringLiteral("listView"));
                static_cast<QFileDialog *>(modal)->setDirectory(folder.path());
                seen = QStringList{modal->windowTitle()};
                for (int filter = 0; filter < types->count(); ++filter) {
                    types->setCurrentIndex(filter);
                    emit types->textActivated(types->currentText());
                    QTest::qWait(300); // the folder is read in the background
                    QStringList names;
                    for (int row = 0; row < view->model()->rowCount(view->rootIndex()); ++row)
                        names << view->model()->index(row, 0, view->rootIndex()).data().toString();
                    names.sort();
                    seen << types->currentText() + ": " + names.join(", ");
                }
                modal->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"))->setText(chosen);
                QMetaObject::invokeMethod(modal, chosen.isEmpty() ? "reject" : "accept");
            });
            QTest::mouseClick(find("btnBrowse"), Qt::LeftButton);
            QVERIFY(watch.seen() && !watch.forced());
            QCOMPARE(find<QLineEdit>("txtEXE")->text(), chosen.isEmpty() ? "/opt/old command" : chosen);
        }
        QCOMPARE(seen, (QStringList{"Select File", "Programs and scripts: check port.sh, tools",
                                    "EXE Files (*.exe): setup.exe, tools",
                                    "All Files (*.*): README, check port.sh, notes.txt, setup.exe, tools"}));
    }

    // F2 hands the page beside the program to the shell once, with no
    // parameters (a program in its place tells); without a page nothing happens.
    void f2()
    {
        const QString page = QCoreApplication::applicationDirPath() + QStringLiteral("/tst_window.htm");
        for (bool present : {false, true}) {
            QFile::remove(page + ".opened");
            if (present)
                QVERIFY(MarkerScript::writeExecutable(page, "#!/bin/sh\necho \"$#\" >> \"$0.opened\"\n"));
            auto *name = find<QLineEdit>("txtDeviceName");
            QTest::keyClicks(name, QStringLiteral("host"));
            QTest::keyClick(name, Qt::Key_F2);
            QFile opened(page + ".opened");
            QCOMPARE(QTest::qWaitFor([&opened] { return opened.exists(); }, present ? 20000 : 300), present);
            QTest::qWait(present ? 500 : 0); // a second opening would have written by now
            QCOMPARE(opened.open(QIODevice::ReadOnly) ? opened.readAll() : QByteArray(), present ? "0\n" : "");
            QTest::keyClicks(name, QStringLiteral("1")); // the window goes on taking keys, Escape too
            QCOMPARE(name->text(), QStringLiteral("host1"));
            name->clear();
        }
        QFile::remove(page);
        QFile::remove(page + ".opened");
        QTest::keyClick(find("txtDeviceName"), Qt::Key_Escape);
        QVERIFY(!m_form->isVisible());
    }

    // Closing the window from under one of its modal windows stores the fields and ends the program's loop.
    void closingUnderAModalEndsTheProgram()
    {
        for (bool about : {true, false}) {
            open();
            startCheck();
            find<QLineEdit>("txtArg")->setText(about ? "about" : "box");
            ModalWatch watch([this](QWidget *) { m_form->close(); });
            QTimer::singleShot(0, m_form.get(), [this, about] {
                if (about)
                    QTest::mouseDClick(m_form.get(), Qt::LeftButton, {}, QPoint(3, 200));
                else
                    MessageBox::show(m_form.get(), MessageBox::Icon::Exclamation, "Ostrel", "?");
            });
            QTimer giveUp; // a program that would not end is stopped here, and fails
            giveUp.callOnTimeout([] { QCoreApplication::exit(1); });
            giveUp.start(20000);
            QCOMPARE(QCoreApplication::exec(), 0);
            QCOMPARE(m_settings->storedTexts().value("Argument"), about ? "about" : "box");
        }
    }

    void storedValues_data()
    {
        const QString longText(40000, 'n');
        ROWS(StoredRow, (std::initializer_list<StoredRow>{
            {"texts, kind, triggers, boxes, timeout",
             {{"DeviceName", "fileserver1"}, {"Port", "8080"}, {"EXEName", "/opt/a b.sh"}, {"PortType", "2"},
              {"EXEOK", "True"}, {"MAILOK", " true "}, {"FTPLogon", "1"}, {"EXE", "1"}, {"Mail", "1"}, {"Timeout", "45"}},
             {{"txtDeviceName", "fileserver1"}, {"txtPort", "8080"}, {"txtEXE", "/opt/a b.sh"}, {"optCheck", "SMTP"},
              {"optEXE", "OK"}, {"optMail", "OK"}, {"chkLogon", "ticked"}, {"chkEXE", "ticked"}, {"chkMail", "ticked"},
              {"lblTimeout", "Timeout (sec) : 45"}, {"cmbPorts", "Other!"}, {"btnBrowse on", "yes"}}},
            {"blank device name", {{"DeviceName", "  "}}, {{"txtDeviceName", "  "}, {"btnCheck on", "no"}}},
            // The port field's own rule runs, and the stored kind still wins.
            {"PortType 1, Port 80", {{"PortType", "1"}, {"Port", "80"}},
             {{"optCheck", "Ping/Echo"}, {"txtPort", "80"}, {"cmbPorts", "HTTP"}}},
            {"PortType 1.5 with blanks", {{"PortType", " 1.5 "}}, {{"optCheck", "SMTP"}}},
            // A value that cannot be applied skips its own key only.
            {"values that do not fit", {{"PortType", "7"}, {"Timeout", "61"}, {"EXEOK", "maybe"}, {"Mail", "3"}, {"Argument", "kept"}},
             {{"txtArg", "kept"}}},
            {"EXE 2 greys and enables", {{"EXE", "2"}}, {{"chkEXE", "greyed"}, {"btnBrowse on", "yes"}}},
            {"unquoted commas", {{"MailAddr", "a@x, b@y"}}, {{"txtMail", "a@x,b@y"}}},
            {"40,000 characters", {{"Argument", longText}}, {{"txtArg", longText}}}}))
    }
    void storedValues()
    {
        QFETCH(StoredRow, row);
        QByteArray file = "[Settings]\n";
        for (auto value = row.stored.cbegin(); value != row.stored.cend(); ++value)
            file += value.key().toUtf8() + (value->startsWith(' ') ? "=\"" + value->toUtf8() + "\"\n" : '=' + value->toUtf8() + '\n');
        QVERIFY(m_settings->writeFile(file));
        open();
        Texts expected = m_created;
        expected.insert(row.shown);
        QCOMPARE(shown(), expected);
        QList<int> states; // a greyed box ticks on the first click and never greys again
        for (int click = 0; click < 3 * (row.stored.value("EXE") == "2"); ++click)
            states << (QTest::mouseClick(find("chkEXE"), Qt::LeftButton, {}, QPoint(6, 6)), find<QCheckBox>("chkEXE")->checkState());
        QCOMPARE(states, row.stored.value("EXE") == "2" ? (QList<int>{Qt::Checked, Qt::Unchecked, Qt::Checked}) : (QList<int>()));
    }

    // Escape without a check writes nothing; after one, all thirteen keys as
    // the fields are at closing, back the same next time; what is not ours stays.
    void storesEveryKeyOnlyAfterACheck()
    {
        QVERIFY(m_settings->writeFile("[Settings]\nNote=not ours\nMail=2\n\n[Other]\nkeep=1\n"));
        const auto before = m_settings->bytes();
        open();
        QTest::keyClicks(find("txtDeviceName"), "edited");
        QTest::keyClick(find("txtDeviceName"), Qt::Key_Escape);
        QVERIFY(!m_form->isVisible());
        QCOMPARE(m_settings->bytes(), before);
        open();
        startCheck();
        const QString longText(40000, 'x');
        const Texts typed{{"txtDeviceName", " host name "}, {"txtPort", "007"}, {"txtEXE", "/opt/a=b;c.sh"},
                          {"txtArg", longText}, {"txtMail", "@a@x, b@y,"}, {"txtMailServer", "[mail]"}};
        for (auto field = typed.begin(); field != typed.end(); ++field)
            find<QLineEdit>(field.key())->setText(field.value());
        for (const char *name : {"optCheck0", "chkLogon", "chkEXE", "optEXE0"})
            find<QAbstractButton>(name)->click();
        find<QScrollBar>("HScroll1")->setValue(7);
        const Texts shownBefore = shown();
        QVERIFY(m_form->close());
        QCOMPARE(m_settings->storedTexts(),
                 (Texts{{"DeviceName", " host name "}, {"Port", "007"}, {"EXEName", "/opt/a=b;c.sh"}, {"Argument", longText},
                        {"MailAddr", "@a@x, b@y,"}, {"MailServer", "[mail]"}, {"PortType", "0"}, {"EXEOK", "True"},
                        {"MAILOK", "False"}, {"FTPLogon", "1"}, {"EXE", "1"}, {"Mail", "2"}, {"Timeout", "7"},
                        {"Note", "not ours"}}));
        QCOMPARE(QSettings(m_settings->filePath(), QSettings::IniFormat).value("Other/keep").toString(), "1");
        open();
        QCOMPARE(shown(), shownBefore);
    }

    void filesLeftAlone_data()
    {
        ROWS(FileRow, (std::initializer_list<FileRow>{
            // A hand edit gone wrong: writing would keep only what could be read.
            {"own file broken", "Ostrel/Ostrel.conf", "[Settings\nDeviceName=x\n", false},
            {"own file is a folder", "Ostrel/Ostrel.conf/x", "", false},
            // Qt's fallback files are none of ours: a broken one changes nothing.
            {"broken fallback", "Ostrel.conf", "[Settings\nDeviceName=x\n", true},
            {"fallback with values", "Ostrel.conf", "[Settings]\nTimeout=33\n", true}}))
    }
    void filesLeftAlone()
    {
        QFETCH(FileRow, row);
        QVERIFY(m_settings->writeFile(row.content, row.file));
        QTemporaryDir system; // where Qt looks for the system-wide fallbacks
        QSettings::setPath(QSettings::NativeFormat, QSettings::SystemScope, system.path());
        for (const char *fallback : {"Ostrel.conf", "Ostrel/Ostrel.conf"}) {
            QFile file(system.filePath(fallback));
            QVERIFY(QDir().mkpath(system.filePath("Ostrel")) && file.open(QIODevice::WriteOnly) && file.write("[Settings\n"));
        }
        if (row.ownFileUsed)
            QVERIFY(m_settings->writeFile("[Settings]\nDeviceName=mine\n"));
        open();
        QCOMPARE(shown().value("txtDeviceName"), row.ownFileUsed ? "mine" : "");
        QCOMPARE(shown().value("lblTimeout"), m_created.value("lblTimeout"));
        startCheck();
        QVERIFY(m_form->close());
        QCOMPARE(m_settings->bytes(row.file), std::optional<QByteArray>(row.content));
        QCOMPARE(m_settings->storedTexts().value("EXEOK"), row.ownFileUsed ? "False" : "");
    }
};

WINDOW_TEST(TestCheckWindow)
#include "tst_checkwindow.moc"
