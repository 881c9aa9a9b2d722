// The browse button's dialog, and the window's own keys: Escape closes it,
// F2 opens the help page beside the program; closing ends the program, also
// from under a modal window of its own.
#include "MarkerScript.h"
#include "ModalWatch.h"
#include "TemporarySettings.h"
#include "WindowTesting.h"
#include "shell/MessageBox.h"
#include "window/frmOstrel.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

class TestWindowKeys : public QObject
{
    Q_OBJECT
    std::unique_ptr<TemporarySettings> m_settings;
    std::unique_ptr<frmOstrel> m_form;

    template <typename T = QWidget>
    T *find(const QString &name) const { return WindowTesting::control<T>(*m_form, name); }
    // A check on the empty device name, as the window opens: it ends at once
    // with a message, and the fields are then due for storing.
    void startCheck()
    {
        MessageBox::setNextAnswer(QMessageBox::Ok);
        find<QPushButton>("btnCheck")->click();
        QCOMPARE(MessageBox::takeShown().size(), 1);
    }
    QString storedArgument() const { return m_settings->storedTexts().value("Argument", "<none>"); }
    // Where F2 looks: this test program's own name with ".htm", beside it.
    static QString helpPage() { return QCoreApplication::applicationDirPath() + QStringLiteral("/tst_window.htm"); }

private slots:
    void initTestCase()
    {
        // Without a display no document is ever handed to a browser.
        qunsetenv("DISPLAY");
        qunsetenv("WAYLAND_DISPLAY");
    }
    void init()
    {
        m_settings = std::make_unique<TemporarySettings>();
        m_form = std::make_unique<frmOstrel>();
        m_form->Form_Load();
        QVERIFY(QTest::qWaitForWindowActive(m_form.get()));
        find<QCheckBox>("chkEXE")->click(); // enables the browse button
    }
    void cleanup()
    {
        m_form.reset();
        m_settings.reset();
        MessageBox::takeShown();
        QFile::remove(helpPage());
        QFile::remove(helpPage() + QStringLiteral(".opened"));
    }

    void browse_data()
    {
        QTest::addColumn<int>("filter");
        QTest::addColumn<QStringList>("listed");
        QTest::addColumn<QString>("chosen"); // "": cancel
        QTest::newRow("programs and scripts") << 0 << QStringList{"check port.sh", "tools"} << "check port.sh";
        QTest::newRow("EXE files") << 1 << QStringList{"setup.exe", "tools"} << "setup.exe";
        QTest::newRow("all files, dotless too") << 2 << QStringList{"README", "check port.sh", "notes.txt", "setup.exe", "tools"} << "";
    }
    // What the dialog lists for a real folder under each of its filters, and
    // what the command field takes from it.
    void browse()
    {
        QFETCH(int, filter);
        QFETCH(QStringList, listed);
        QFETCH(QString, chosen);
        QTemporaryDir folder;
        QVERIFY(QDir(folder.path()).mkdir(QStringLiteral("tools")));
        QVERIFY(MarkerScript::writeExecutable(folder.filePath(QStringLiteral("check port.sh")), "#!/bin/sh\n"));
        for (const char *plain : {"notes.txt", "setup.exe", "README"}) {
            QFile file(folder.filePath(QLatin1String(plain)));
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
        find<QLineEdit>("txtEXE")->setText(QStringLiteral("/opt/old command"));
        QStringList labels, seen;
        ModalWatch watch([&](QWidget *modal) {
            auto *dialog = qobject_cast<QFileDialog *>(modal);
            auto *types = modal->findChild<QComboBox *>(QStringLiteral("fileTypeCombo"));
            auto *view = modal->findChild<QAbstractItemView *>(QStringLiteral("listView"));
            if (!dialog || !types || !view || dialog->windowTitle() != QLatin1String("Select File")) {
                modal->close();
                return;
            }
            for (int index = 0; index < types->count(); ++index)
                labels << types->itemText(index);
            dialog->setDirectory(folder.path());
            types->setCurrentIndex(filter);
            emit types->textActivated(types->currentText());
            // The folder is read in the background; anything more would have come 100 ms later.
            (void)QTest::qWaitFor([&] { return view->model()->rowCount(view->rootIndex()) >= listed.size(); }, 5000);
            QTest::qWait(100);
            for (int row = 0; row < view->model()->rowCount(view->rootIndex()); ++row)
                seen << view->model()->index(row, 0, view->rootIndex()).data().toString();
            if (chosen.isEmpty())
                return dialog->reject();
            // The user types the full path into the dialog's name field.
            modal->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"))->setText(folder.filePath(chosen));
            QMetaObject::invokeMethod(dialog, "accept");
        });
        QTest::mouseClick(find("btnBrowse"), Qt::LeftButton);
        QVERIFY(!watch.forced());
        QCOMPARE(labels, (QStringList{"Programs and scripts", "EXE Files (*.exe)", "All Files (*.*)"}));
        seen.sort();
        QCOMPARE(seen, listed);
        QCOMPARE(find<QLineEdit>("txtEXE")->text(), chosen.isEmpty() ? "/opt/old command" : folder.filePath(chosen));
    }

    void escapeCloses_data()
    {
        QTest::addColumn<bool>("checkStarted");
        QTest::addColumn<QString>("focus");
        QTest::newRow("no check, from the arguments") << false << "txtArg";
        QTest::newRow("after a check, from the timeout bar") << true << "HScroll1";
    }
    void escapeCloses()
    {
        QFETCH(bool, checkStarted);
        QFETCH(QString, focus);
        if (checkStarted)
            startCheck();
        find<QLineEdit>("txtArg")->setText(QStringLiteral("typed"));
        find(focus)->setFocus();
        QTest::keyClick(find(focus), Qt::Key_Escape);
        QVERIFY(!m_form->isVisible());
        QCOMPARE(storedArgument(), checkStarted ? QStringLiteral("typed") : QStringLiteral("<none>"));
    }

    void f2_data()
    {
        QTest::addColumn<QByteArray>("page"); // empty: none
        QTest::newRow("no help page") << QByteArray();
        // An executable in the page's place shows which file F2 hands to the
        // shell, and how often, without any browser.
        QTest::newRow("program in the page's place") << QByteArray("#!/bin/sh\necho \"$#\" >> \"$0.opened\"\n");
    }
    void f2()
    {
        QFETCH(QByteArray, page);
        if (!page.isEmpty())
            QVERIFY(MarkerScript::writeExecutable(helpPage(), page));
        auto *name = find<QLineEdit>("txtDeviceName");
        QTest::keyClicks(name, QStringLiteral("host"));
        QTest::keyClick(name, Qt::Key_F2);
        if (!page.isEmpty()) {
            QFile opened(helpPage() + QStringLiteral(".opened"));
            QVERIFY(QTest::qWaitFor([&opened] { return opened.exists(); }, 20000));
            QTest::qWait(500); // anything opened twice would have written its line by now
            QVERIFY(opened.open(QIODevice::ReadOnly));
            QCOMPARE(opened.readAll(), QByteArray("0\n")); // once, with no parameters
        }
        // The window goes on taking keys, Escape included.
        QCOMPARE(QApplication::activeModalWidget(), nullptr);
        QTest::keyClicks(name, QStringLiteral("1"));
        QCOMPARE(name->text(), QStringLiteral("host1"));
        QTest::keyClick(name, Qt::Key_Escape);
        QVERIFY(!m_form->isVisible());
    }

    void closingUnderAModalEndsTheProgram_data()
    {
        QTest::addColumn<bool>("about");
        QTest::newRow("About window") << true;
        QTest::newRow("message box") << false;
    }
    // However the window is closed while one of its modal windows is up, the
    // fields are stored and the program's event loop ends.
    void closingUnderAModalEndsTheProgram()
    {
        QFETCH(bool, about);
        startCheck();
        find<QLineEdit>("txtArg")->setText(QStringLiteral("typed"));
        ModalWatch watch([this](QWidget *) { m_form->close(); });
        QTimer::singleShot(0, m_form.get(), [this, about] {
            if (about)
                QTest::mouseDClick(m_form.get(), Qt::LeftButton, {}, QPoint(3, 200));
            else
                MessageBox::show(m_form.get(), MessageBox::Icon::Exclamation, QStringLiteral("Ostrel"), "?");
        });
        QTimer giveUp; // a program that would not end is stopped here, and fails
        giveUp.callOnTimeout([] { QCoreApplication::exit(1); });
        giveUp.start(20000);
        QCOMPARE(QCoreApplication::exec(), 0);
        QVERIFY(watch.seen() && !watch.forced());
        QCOMPARE(storedArgument(), QStringLiteral("typed"));
    }
};

WINDOW_TEST(TestWindowKeys)
#include "tst_windowkeys.moc"
