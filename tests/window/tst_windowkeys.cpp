// The browse button, and the window's own keys: Escape closes it, F2 opens
// the help page beside the program; closing ends the program, also from
// under a modal window of its own.
#include "MarkerScript.h"
#include "ModalWatch.h"
#include "TemporarySettings.h"
#include "WindowTesting.h"
#include "shell/MessageBox.h"
#include "shell/modDialogFile.h"
#include "window/frmOstrel.h"

#include <QApplication>
#include <QCheckBox>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <memory>

using WindowTesting::control;

namespace {

// Where F2 looks: this test program's own name with ".htm", beside it.
QString helpPagePath()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/tst_windowkeys.htm");
}

} // namespace

class TestWindowKeys : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void browseTakesTheChoice_data();
    void browseTakesTheChoice();
    void browseDialog();
    void escapeCloses_data();
    void escapeCloses();
    void f2_data();
    void f2();
    void closingUnderAModalEndsTheProgram_data();
    void closingUnderAModalEndsTheProgram();

private:
    QLineEdit *field(const char *name) const { return control<QLineEdit>(*m_form, QLatin1String(name)); }
    QPushButton *button(const char *name) const { return control<QPushButton>(*m_form, QLatin1String(name)); }
    // A check on the empty device name, as the window opens: it ends at once
    // with a message, and the fields are then due for storing.
    void startCheck()
    {
        MessageBox::setNextAnswer(QMessageBox::Ok);
        button("btnCheck")->click();
        QCOMPARE(MessageBox::takeShown().size(), 1);
    }
    QString storedArgument() const
    {
        return m_settings->storedTexts().value(QStringLiteral("Argument"), QStringLiteral("<none>"));
    }

    std::unique_ptr<TemporarySettings> m_settings;
    std::unique_ptr<frmOstrel> m_form;
};

void TestWindowKeys::initTestCase()
{
    // Without a display no document is ever handed to a browser.
    qunsetenv("DISPLAY");
    qunsetenv("WAYLAND_DISPLAY");
}

void TestWindowKeys::init()
{
    QFile::remove(helpPagePath());
    m_settings = std::make_unique<TemporarySettings>();
    m_form = std::make_unique<frmOstrel>();
    m_form->Form_Load();
    QVERIFY(QTest::qWaitForWindowActive(m_form.get()));
    // The command row is enabled by its box, and the browse button with it.
    control<QCheckBox>(*m_form, QStringLiteral("chkEXE"))->click();
}

void TestWindowKeys::cleanup()
{
    m_form.reset();
    m_settings.reset();
    MessageBox::takeShown();
    QFile::remove(helpPagePath());
    QFile::remove(helpPagePath() + QStringLiteral(".opened"));
}

void TestWindowKeys::browseTakesTheChoice_data()
{
    QTest::addColumn<QStringList>("choice"); // empty: the user cancels
    QTest::addColumn<QString>("after");
    QTest::newRow("path with blanks") << QStringList{"/opt/my tools/check port.sh"} << "/opt/my tools/check port.sh";
    QTest::newRow("cancel keeps the text") << QStringList{} << "/opt/old command";
}

void TestWindowKeys::browseTakesTheChoice()
{
    QFETCH(QStringList, choice);
    QFETCH(QString, after);

    field("txtEXE")->setText(QStringLiteral("/opt/old command"));
    modDialogFile::setNextChoice(choice);
    QTest::mouseClick(button("btnBrowse"), Qt::LeftButton);
    QCOMPARE(field("txtEXE")->text(), after);
    QCOMPARE(field("txtArg")->text(), QString());
}

// The real dialog, answered from inside its own event loop.
void TestWindowKeys::browseDialog()
{
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    const QString chosen = folder.filePath(QStringLiteral("my tools/check port.sh"));
    QVERIFY(QDir().mkpath(folder.filePath(QStringLiteral("my tools"))));
    QVERIFY(MarkerScript::writeExecutable(chosen, "#!/bin/sh\n"));

    QFileDialog *seen = nullptr;
    QStringList filters;
    ModalWatch watch([&](QWidget *modal) {
        seen = qobject_cast<QFileDialog *>(modal);
        auto *name = modal->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
        if (!seen || !name) {
            modal->close();
            return;
        }
        QCOMPARE(seen->parentWidget(), m_form.get());
        QCOMPARE(seen->windowTitle(), QStringLiteral("Select File"));
        QCOMPARE(seen->fileMode(), QFileDialog::ExistingFile);
        QCOMPARE(seen->acceptMode(), QFileDialog::AcceptOpen);
        filters = seen->nameFilters();
        QCOMPARE(seen->selectedNameFilter(), filters.value(0));
        // The user types the full path into the dialog's name field.
        name->setText(chosen);
        QMetaObject::invokeMethod(seen, "accept");
    });
    QTest::mouseClick(button("btnBrowse"), Qt::LeftButton);

    QVERIFY(seen);
    QVERIFY(!watch.forced());
    // "*.*" lists every file here, also those without a dot in their names.
    QCOMPARE(filters, (QStringList{modDialogFile::kProgramsFilter + QStringLiteral(" (*)"),
                                   QStringLiteral("EXE Files (*.exe)"), QStringLiteral("All Files (*)")}));
    QCOMPARE(field("txtEXE")->text(), chosen);
}

void TestWindowKeys::escapeCloses_data()
{
    QTest::addColumn<bool>("checkStarted");
    QTest::addColumn<QString>("focus");
    QTest::newRow("no check, from the arguments") << false << "txtArg";
    QTest::newRow("after a check, from the timeout bar") << true << "HScroll1";
}

void TestWindowKeys::escapeCloses()
{
    QFETCH(bool, checkStarted);
    QFETCH(QString, focus);

    if (checkStarted)
        startCheck();
    field("txtArg")->setText(QStringLiteral("typed"));
    QWidget *target = control(*m_form, focus);
    target->setFocus();
    QTest::keyClick(target, Qt::Key_Escape);
    QVERIFY(!m_form->isVisible());
    QCOMPARE(storedArgument(), checkStarted ? QStringLiteral("typed") : QStringLiteral("<none>"));
    QCOMPARE(m_settings->bytes().has_value(), checkStarted);
}

void TestWindowKeys::f2_data()
{
    QTest::addColumn<QByteArray>("page"); // empty: none
    QTest::newRow("no help page") << QByteArray();
    QTest::newRow("help page beside the program") << QByteArray("<html><body>help</body></html>\n");
    // An executable in the page's place shows which file F2 hands to the
    // shell, and how often, without any browser.
    QTest::newRow("program in the page's place") << QByteArray("#!/bin/sh\necho \"$#\" >> \"$0.opened\"\n");
}

void TestWindowKeys::f2()
{
    QFETCH(QByteArray, page);

    QFile file(helpPagePath());
    if (page.startsWith("#!"))
        QVERIFY(MarkerScript::writeExecutable(helpPagePath(), page));
    else if (!page.isEmpty())
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(page) == page.size());
    file.close();
    QLineEdit *name = field("txtDeviceName");
    QTest::keyClicks(name, QStringLiteral("host"));
    QTest::keyClick(name, Qt::Key_F2);
    if (page.startsWith("#!")) {
        const QString opened = helpPagePath() + QStringLiteral(".opened");
        QVERIFY(QTest::qWaitFor([&opened] { return QFile::exists(opened); }, 20000));
        // Anything opened twice would have written its line by now.
        QTest::qWait(500);
        QFile marker(opened);
        QVERIFY(marker.open(QIODevice::ReadOnly));
        QCOMPARE(marker.readAll(), QByteArray("0\n")); // once, with no parameters
    }
    QTest::keyClick(field("txtArg"), Qt::Key_F2);

    QVERIFY(m_form->isVisible());
    QCOMPARE(QApplication::activeModalWidget(), nullptr);
    QCOMPARE(name->text(), QStringLiteral("host"));
    QCOMPARE(field("txtArg")->text(), QString());
    // The window goes on taking keys, Escape included.
    QTest::keyClicks(name, QStringLiteral("1"));
    QCOMPARE(name->text(), QStringLiteral("host1"));
    QTest::keyClick(name, Qt::Key_Escape);
    QVERIFY(!m_form->isVisible());
}

void TestWindowKeys::closingUnderAModalEndsTheProgram_data()
{
    QTest::addColumn<bool>("about");
    QTest::newRow("About window") << true;
    QTest::newRow("message box") << false;
}

// However the window is closed while one of its modal windows is up, the
// fields are stored and the program's event loop ends.
void TestWindowKeys::closingUnderAModalEndsTheProgram()
{
    QFETCH(bool, about);

    startCheck();
    field("txtArg")->setText(QStringLiteral("typed"));
    ModalWatch watch([this](QWidget *) { m_form->close(); });
    QTimer::singleShot(0, m_form.get(), [this, about] {
        if (about)
            QTest::mouseDClick(m_form.get(), Qt::LeftButton, {}, QPoint(3, 200));
        else
            MessageBox::show(m_form.get(), MessageBox::Icon::Exclamation, QStringLiteral("Ostrel"), QStringLiteral("?"));
    });
    // A program that would not end is stopped here, and fails.
    QTimer giveUp;
    giveUp.callOnTimeout([] { QCoreApplication::exit(1); });
    giveUp.start(20000);
    QCOMPARE(QCoreApplication::exec(), 0);
    QVERIFY(watch.seen());
    QVERIFY(!watch.forced());
    QCOMPARE(storedArgument(), QStringLiteral("typed"));
}

QTEST_MAIN(TestWindowKeys)
#include "tst_windowkeys.moc"
