// The check window as the user meets it: its look, the port and service rules, the browse dialog, the settings.
#include "WindowTesting.h"
#include "window/MessageBox.h"
#include "window/frmOstrel.h"

using Texts = QMap<QString, QString>;

// From a port and a kind, a port typed, a service chosen or a kind clicked: port, service, kind and result shown. A
// service means Other Port, the catch-all leaves the kind, and a result goes when a kind is clicked, only then.
struct PortRow {
    const char *name, *before;
    int kindBefore;
    const char *action, *seen;
};
Q_DECLARE_METATYPE(PortRow)

class TestCheckWindow : public QObject {
    Q_OBJECT
    const TemporarySettings m_settings;
    std::unique_ptr<frmOstrel> m_form;

    template <typename T = QWidget> T *find(const QString &name) const { return m_form->findChild<T *>(name); }
    void open()
    {
        m_form = std::make_unique<frmOstrel>();
        m_form->Form_Load();
        QVERIFY(QTest::qWaitForWindowActive(m_form.get()));
    }
    // A check on the device name as it stands, ended at once by a message; the fields are then due for storing.
    void startCheck()
    {
        MessageBox::setNextAnswer(QMessageBox::Ok);
        find<QAbstractButton>("btnCheck")->click();
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
                shown[box->objectName()] = QStringList { "cleared", "greyed", "ticked" }.at(tick->checkState());
            shown[box->objectName() + " on"] = box->isEnabled() ? "yes" : "no";
        }
        shown["lblTimeout"] = find<QLabel>("lblTimeout")->text();
        shown["cmbPorts"] = find<QComboBox>("cmbPorts")->currentText();
        return shown;
    }

private slots:
    void init()
    {
        QFile::remove(m_settings.file);
        open();
    }

    // Captions, places, initial states, the focus and lights against the README's picture.
    void looksAsApproved()
    {
        const int pixels = differing(m_form.get(), QStringLiteral(OSTREL_PICTURES "/window.png"));
        QVERIFY2(pixels >= 0 && pixels <= 2, qPrintable(QString::number(pixels) + " pixels differ"));
        QCOMPARE(m_form->windowTitle(), QStringLiteral("Ostrel " OSTREL_VERSION));
    }

    // Double-clicked on its bare background (never on a label), or Shift+F1, shows the About window as approved; its
    // Close button, Escape or a double click on its icon closes it, one on its text does not.
    void aboutWindow()
    {
        const QPoint bare(m_form->width() - 2, m_form->height() - 2);
        for (const QString target : { "btnClose", "Escape", "imgIcon", "lblProduct", "lblResult" }) {
            QString seen = "none";
            ModalWatch watch([&](QWidget *about) {
                const int pixels = differing(about, QStringLiteral(OSTREL_PICTURES "/about.png"));
                if (target == "btnClose")
                    QTest::mouseClick(about->findChild<QWidget *>(target), Qt::LeftButton);
                else if (target == "Escape")
                    QTest::keyClick(about, Qt::Key_Escape);
                else
                    QTest::mouseDClick(about->findChild<QWidget *>(target), Qt::LeftButton);
                seen = QString(about->isVisible() ? "open" : "closed")
                    + (pixels >= 0 && pixels <= 2 ? "" : " (unlike about.png)");
            });
            QWidget *label = find(target);
            if (target == "Escape") // opened by its key this time
                QTest::keyClick(m_form->focusWidget(), Qt::Key_F1, Qt::ShiftModifier);
            else
                QTest::mouseDClick(label ? label : m_form.get(), Qt::LeftButton, {}, label ? QPoint(2, 2) : bare);
            QCOMPARE(seen, label ? "none" : target == "lblProduct" ? "open" : "closed");
        }
    }

    // Entering a field by mouse or key selects its text, kept by the focusing left click only (the next places the
    // cursor, "@"); the device, command, argument and mail fields show the tooltip colour while focused.
    void fieldsOnEntry()
    {
        auto *device = find<QLineEdit>("txtDeviceName"), *port = find<QLineEdit>("txtPort");
        device->setText("host");
        QStringList seen;
        const auto look = [&seen](QLineEdit *field) {
            const bool tooltip = field->palette().color(QPalette::Base) == qApp->palette().color(QPalette::ToolTipBase);
            const QString text
                = field->hasSelectedText() ? field->selectedText() : '@' + QString::number(field->cursorPosition());
            seen << field->objectName() + ':' + text + (tooltip ? " (tooltip)" : "");
        };
        for (const auto &[field, button] : { std::pair { port, Qt::LeftButton }, { port, Qt::LeftButton },
                 { device, Qt::MiddleButton }, { device, Qt::LeftButton } }) {
            const QPoint at(button == Qt::MiddleButton ? 2 : field->width() / 2, field->height() / 2);
            QTest::mouseClick(field, button, {}, at); // the middle at the text's start, the left past its end
            look(field);
        }
        QTest::keyClick(device, Qt::Key_Tab);
        look(device);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab);
        look(device);
        QCOMPARE(seen,
            (QStringList { "txtPort:21", "txtPort:@2", "txtDeviceName:@0 (tooltip)", "txtDeviceName:@4 (tooltip)",
                "txtDeviceName:@4", "txtDeviceName:host (tooltip)" }));
    }

    // Return and the keypad's Enter press the focused button, once however long they are held; other keys and
    // combinations leave it alone.
    void keysOnButtons()
    {
        find<QLineEdit>("txtDeviceName")->setText("127.0.0.1");
        find<QLineEdit>("txtPort")->setText("1"); // refused at once
        QStringList seen;
        for (const auto &[key, modifiers, held] : { std::tuple { Qt::Key_A, Qt::NoModifier, false },
                 { Qt::Key_Return, Qt::NoModifier, false }, { Qt::Key_Enter, Qt::KeypadModifier, false },
                 { Qt::Key_Return, Qt::NoModifier, true }, { Qt::Key_Return, Qt::ControlModifier, false } }) {
            find<QLabel>("lblResult")->clear();
            QKeyEvent press(QEvent::KeyPress, key, modifiers, QString(), held);
            QApplication::sendEvent(find("btnCheck"), &press);
            seen << find<QLabel>("lblResult")->text();
        }
        QCOMPARE(seen, (QStringList { "", "Port Un-Available", "Port Un-Available", "", "" }));
    }

    // The fields, the result and both frames grow with the window, the buttons keep to its right edge.
    void resizes()
    {
        const QStringList names { "txtDeviceName", "lblResult", "txtEXE", "txtMail", "frameConn", "frameSettings",
            "btnCheck", "btnBrowse" };
        QList<QRect> before;
        for (const QString &name : names)
            before << find(name)->geometry();
        m_form->resize(m_form->size() + QSize(120, 80));
        QStringList moved;
        for (int i = 0; i < names.size(); ++i) {
            const QRect was = before[i], now = find(names[i])->geometry();
            moved << QString::asprintf("%s %d %d %d", qPrintable(names[i]), now.x() - was.x(),
                now.width() - was.width(), now.height() - was.height());
        }
        QCOMPARE(moved,
            (QStringList { "txtDeviceName 0 120 0", "lblResult 0 120 0", "txtEXE 0 120 0", "txtMail 0 120 0",
                "frameConn 0 120 80", "frameSettings 0 120 0", "btnCheck 120 0 0", "btnBrowse 120 0 0" }));
    }

    // Pixels that differ from a picture a person approved: a moved control or a changed caption shifts more than font
    // rendering may (a full stop added: 3). OSTREL_DRAW_PICTURE=1 draws it anew (target window-picture).
    static int differing(QWidget *widget, const QString &picture)
    {
        if (qEnvironmentVariableIsSet("OSTREL_DRAW_PICTURE"))
            widget->grab().save(picture);
        const QImage shown = widget->grab().toImage().convertToFormat(QImage::Format_RGB32);
        const QImage approved = QImage(picture).convertToFormat(QImage::Format_RGB32);
        int differing = shown.size() == approved.size() ? 0 : -1;
        for (int y = 0; y < shown.height() && differing >= 0; ++y)
            for (int x = 0; x < shown.width(); ++x)
                differing += std::abs(qGray(shown.pixel(x, y)) - qGray(approved.pixel(x, y))) > 48;
        return differing;
    }

    // Every control the keyboard reaches shows that it has the focus, the timeout scroll bar too: its pixels
    // change as Tab moves on. The command's and the mail's rows join the Tab order once ticked.
    void focusVisible()
    {
        find<QCheckBox>("chkEXE")->click();
        find<QCheckBox>("chkMail")->click();
        QStringList reached, unchanged;
        for (QWidget *control = QApplication::focusWidget(); !reached.contains(control->objectName());
             control = QApplication::focusWidget()) {
            const QImage focused = control->grab().toImage();
            QTest::keyClick(control, Qt::Key_Tab);
            reached << control->objectName();
            if (control->grab().toImage() == focused)
                unchanged << control->objectName();
        }
        QVERIFY2(reached.contains("HScroll1") && unchanged.isEmpty(), qPrintable(unchanged.join(", ")));
    }

    void portAndList_data()
    {
        ROWS(PortRow, { "typing 25 over 21", "21", 1, "type:25", "25|SMTP|Other Port  >|" },
            { "leading blank", "", 0, "type: 21", " 21|Other!|FTP  >|Port Un-Available" },
            { "choosing ECHO", "x", 2, "choose:ECHO", "7|ECHO|Other Port  >|" },
            { "choosing Other!", "80", 0, "choose:Other!", "80|Other!|FTP  >|Port Un-Available" },
            { "clicking a kind", "80", 3, "kind:1", "80|HTTP|Ping/Echo|" })
    }
    void portAndList()
    {
        QFETCH(PortRow, row);
        auto *port = find<QLineEdit>("txtPort");
        auto *list = find<QComboBox>("cmbPorts");
        port->setText(QLatin1String(row.before));
        QTest::mouseClick(find(QStringLiteral("optCheck%1").arg(row.kindBefore)), Qt::LeftButton);
        find<QLabel>("lblResult")->setText(QStringLiteral("Port Un-Available"));
        const QString action = QLatin1String(row.action), argument = action.section(':', 1);
        if (action.startsWith("choose:")) {
            list->setCurrentIndex(list->findText(argument));
        } else if (action.startsWith("kind:")) {
            QTest::mouseClick(find("optCheck" + argument), Qt::LeftButton);
        } else { // entering the field by mouse selects its text, which Backspace then clears
            QTest::mouseClick(port, Qt::LeftButton);
            QTest::keyClick(port, Qt::Key_Backspace);
            QTest::keyClicks(port, argument);
        }
        const Texts now = shown();
        const QStringList seen { now["txtPort"], now["cmbPorts"], now["optCheck"], find<QLabel>("lblResult")->text() };
        QCOMPARE(seen.join('|'), QLatin1String(row.seen));
    }

    // What the dialog lists for a real folder under each filter, and what the command field takes from it.
    void browse()
    {
        QTemporaryDir folder;
        for (const QString name : { "tools/README", "notes.txt", "setup.exe", "README", "check port.sh" })
            QVERIFY(
                writeFile(folder.filePath(name), "", name.endsWith(".sh") ? QFile::ExeOwner : QFile::Permissions()));
        find<QCheckBox>("chkEXE")->click();
        find<QLineEdit>("txtEXE")->setText(QStringLiteral("/opt/old command"));
        QStringList seen;
        for (const QString &chosen : { QString(), folder.filePath("check port.sh") }) {
            ModalWatch watch([&](QWidget *modal) {
                auto *types = modal->findChild<QComboBox *>(QStringLiteral("fileTypeCombo"));
                auto *view = modal->findChild<QAbstractItemView *>(QStringLiteral("listView"));
                static_cast<QFileDialog *>(modal)->setDirectory(folder.path());
                seen = QStringList { modal->windowTitle() };
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
            QCOMPARE(find<QLineEdit>("txtEXE")->text(), chosen.isEmpty() ? "/opt/old command" : chosen);
        }
        QCOMPARE(seen,
            (QStringList { "Select File", "Programs and scripts: check port.sh, tools",
                "EXE Files (*.exe): setup.exe, tools",
                "All Files (*.*): README, check port.sh, notes.txt, setup.exe, tools" }));
    }

    // A hand-written file is read as far as it fits: blanks around values, a fraction for the kind, which wins over
    // the port's own rule; a value that cannot be applied skips its key only; Qt's fallback files are none of ours.
    // Escape without a check writes nothing; after one, all thirteen keys as at closing, back the same next time,
    // what is not ours kept. A file broken by a hand is never written over, and is read again once mended.
    void storesEveryKeyOnlyAfterACheck()
    {
        const auto fileText = [this] {
            QFile file(m_settings.file);
            return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        };
        QTemporaryDir system; // where Qt looks for the system-wide ones; the user's own for all of "Ostrel" last
        QSettings::setPath(QSettings::NativeFormat, QSettings::SystemScope, system.path());
        for (const QString &path : { system.filePath("Ostrel.conf"), system.filePath("Ostrel/Ostrel.conf"),
                 QFileInfo(m_settings.file).path() + ".conf" })
            QVERIFY(writeFile(path, "[Settings\nTimeout=33\n"));
        Texts expected = shown(); // as the window opened with nothing stored
        const QByteArray before
            = "[Settings]\nNote=not ours\nMail=2\nMAILOK=\" true \"\nPortType=\" 1.5 \"\nPort=80\nEXE=2\n"
              "MailAddr=a@x, b@y\nTimeout=61\nEXEOK=maybe\nArgument=kept\n\n[Other]\nkeep=1\n";
        QVERIFY(writeFile(m_settings.file, before));
        open();
        expected.insert({ { "optMail", "OK" }, { "optCheck", "SMTP" }, { "txtPort", "80" }, { "cmbPorts", "HTTP" },
            { "chkEXE", "greyed" }, { "chkMail", "greyed" }, { "txtMail", "a@x,b@y" }, { "txtArg", "kept" } });
        for (const char *enabled : { "btnBrowse on", "optEXE0 on", "optEXE1 on", "optMail0 on", "optMail1 on" })
            expected.insert(enabled, "yes");
        QCOMPARE(shown(), expected);
        QTest::keyClicks(find("txtDeviceName"), "edited");
        QTest::keyClick(find("txtDeviceName"), Qt::Key_Escape);
        QVERIFY(!m_form->isVisible());
        QCOMPARE(fileText(), before);
        open();
        startCheck();
        const QString longText(40000, 'x');
        const Texts typed { { "txtDeviceName", " host name " }, { "txtPort", "007" }, { "txtEXE", "/opt/a=b;c.sh" },
            { "txtArg", longText }, { "txtMail", "@a@x, b@y," }, { "txtMailServer", "[mail]" } };
        for (auto field = typed.begin(); field != typed.end(); ++field)
            find<QLineEdit>(field.key())->setText(field.value());
        for (const char *name : { "optCheck0", "chkLogon", "chkEXE", "optEXE0" })
            find<QAbstractButton>(name)->click();
        find<QScrollBar>("HScroll1")->setValue(7);
        const Texts shownBefore = shown();
        QVERIFY(m_form->close());
        QCOMPARE(m_settings.stored(),
            (Texts { { "DeviceName", " host name " }, { "Port", "007" }, { "EXEName", "/opt/a=b;c.sh" },
                { "Argument", longText }, { "MailAddr", "@a@x, b@y," }, { "MailServer", "[mail]" }, { "PortType", "0" },
                { "EXEOK", "True" }, { "MAILOK", "True" }, { "FTPLogon", "1" }, { "EXE", "1" }, { "Mail", "2" },
                { "Timeout", "7" }, { "Note", "not ours" } }));
        QCOMPARE(QSettings(m_settings.file, QSettings::IniFormat).value("Other/keep").toString(), "1");
        open();
        QCOMPARE(shown(), shownBefore);
        const QByteArray broken = "[Settings\nArgument=mine!\n";
        QVERIFY(writeFile(m_settings.file, broken));
        open();
        startCheck();
        QVERIFY(m_form->close());
        QCOMPARE(fileText(), broken);
        QVERIFY(writeFile(m_settings.file, "[Settings]\nArgument=mine\nPortType=x\n")); // mended, a kind no number
        open();
        QCOMPARE(find<QLineEdit>("txtArg")->text() + '|' + shown()["optCheck"], "mine|Other Port  >");
    }
};

QTEST_MAIN(TestCheckWindow)
#include "tst_checkwindow.moc"
