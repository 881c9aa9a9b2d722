// The browse button, and the window's own keys: Escape closes it, F2 opens
// the help page beside the program.
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
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
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
    void browseDialog_data();
    void browseDialog();

    void escapeCloses_data();
    void escapeCloses();

    void f2KeepsTheWindowUsable_data();
    void f2KeepsTheWindowUsable();
    void f2OpensThePageBesideTheProgram();

private:
    QLineEdit *field(const char *name) const { return control<QLineEdit>(*m_form, QLatin1String(name)); }
    QPushButton *button(const char *name) const { return control<QPushButton>(*m_form, QLatin1String(name)); }

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
    QVERIFY(button("btnBrowse")->isEnabled());
}

void TestWindowKeys::cleanup()
{
    m_form.reset();
    m_settings.reset();
    MessageBox::takeShown();
    QFile::remove(helpPagePath());
}

void TestWindowKeys::browseTakesTheChoice_data()
{
    QTest::addColumn<QStringList>("choice"); // empty: the user cancels
    QTest::addColumn<QString>("before");
    QTest::addColumn<QString>("after");

    QTest::newRow("path with blanks") << QStringList{"/opt/my tools/check port.sh"} << "old"
                                      << "/opt/my tools/check port.sh";
    QTest::newRow("into an empty field") << QStringList{"/usr/bin/logger"} << "" << "/usr/bin/logger";
    QTest::newRow("cancel keeps the text") << QStringList{} << "/opt/old command" << "/opt/old command";
    QTest::newRow("cancel keeps an empty field") << QStringList{} << "" << "";
}

void TestWindowKeys::browseTakesTheChoice()
{
    QFETCH(QStringList, choice);
    QFETCH(QString, before);
    QFETCH(QString, after);

    field("txtEXE")->setText(before);
    modDialogFile::setNextChoice(choice);
    QTest::mouseClick(button("btnBrowse"), Qt::LeftButton);
    QCOMPARE(field("txtEXE")->text(), after);
    QCOMPARE(field("txtArg")->text(), QString());
}

void TestWindowKeys::browseDialog_data()
{
    QTest::addColumn<bool>("accept");
    QTest::newRow("choose a file whose path holds blanks") << true;
    QTest::newRow("cancel") << false;
}

// The real dialog, answered from inside its own event loop.
void TestWindowKeys::browseDialog()
{
    QFETCH(bool, accept);

    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    const QString chosen = folder.filePath(QStringLiteral("my tools/check port.sh"));
    QVERIFY(QDir().mkpath(folder.filePath(QStringLiteral("my tools"))));
    QVERIFY(MarkerScript::writeExecutable(chosen, "#!/bin/sh\n"));
    field("txtEXE")->setText(QStringLiteral("before"));

    QFileDialog *seen = nullptr;
    QString title;
    QStringList filters;
    QString selectedFilter;
    QFileDialog::FileMode mode = QFileDialog::AnyFile;
    QFileDialog::AcceptMode acceptMode = QFileDialog::AcceptSave;
    QWidget *owner = nullptr;
    ModalWatch watch([&](QWidget *modal) {
        seen = qobject_cast<QFileDialog *>(modal);
        if (!seen) {
            modal->close();
            return;
        }
        title = seen->windowTitle();
        filters = seen->nameFilters();
        selectedFilter = seen->selectedNameFilter();
        mode = seen->fileMode();
        acceptMode = seen->acceptMode();
        owner = seen->parentWidget();
        // The user types the full path into the dialog's name field.
        auto *name = seen->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
        if (accept && name) {
            name->setText(chosen);
            QMetaObject::invokeMethod(seen, "accept");
        } else {
            seen->reject();
        }
    });
    QTest::mouseClick(button("btnBrowse"), Qt::LeftButton);

    QVERIFY(watch.seen());
    QVERIFY(!watch.forced());
    QVERIFY(seen);
    QCOMPARE(owner, m_form.get());
    QCOMPARE(title, QStringLiteral("Select File"));
    QCOMPARE(filters, (QStringList{modDialogFile::kProgramsFilter + QStringLiteral(" (*)"),
                                   QStringLiteral("EXE Files (*.exe)"), QStringLiteral("All Files (*)")}));
    QCOMPARE(selectedFilter, filters.first());
    QCOMPARE(mode, QFileDialog::ExistingFile);
    QCOMPARE(acceptMode, QFileDialog::AcceptOpen);
    QCOMPARE(field("txtEXE")->text(), accept ? chosen : QStringLiteral("before"));
}

void TestWindowKeys::escapeCloses_data()
{
    QTest::addColumn<bool>("checkStarted");
    QTest::addColumn<QString>("focus");

    QTest::newRow("no check, from the device name") << false << "txtDeviceName";
    QTest::newRow("no check, from the arguments") << false << "txtArg";
    QTest::newRow("after a check, from the device name") << true << "txtDeviceName";
    QTest::newRow("after a check, from the timeout bar") << true << "HScroll1";
}

void TestWindowKeys::escapeCloses()
{
    QFETCH(bool, checkStarted);
    QFETCH(QString, focus);

    if (checkStarted) {
        // The device name is still empty, so the check ends at once.
        QSignalSpy clicks(button("btnCheck"), &QPushButton::clicked);
        MessageBox::setNextAnswer(QMessageBox::Ok);
        ModalWatch unexpected([](QWidget *modal) { modal->close(); }, 200);
        button("btnCheck")->click();
        QCOMPARE(clicks.count(), 1);
    }
    field("txtArg")->setText(QStringLiteral("typed"));
    QWidget *target = control(*m_form, focus);
    target->setFocus();
    QCOMPARE(QApplication::focusWidget(), target);

    QTest::keyClick(target, Qt::Key_Escape);
    QVERIFY(!m_form->isVisible());
    QCOMPARE(m_settings->storedTexts().value(QStringLiteral("Argument"), QStringLiteral("<none>")),
             checkStarted ? QStringLiteral("typed") : QStringLiteral("<none>"));
    QCOMPARE(m_settings->bytes().has_value(), checkStarted);
}

void TestWindowKeys::f2KeepsTheWindowUsable_data()
{
    QTest::addColumn<bool>("pagePresent");
    QTest::newRow("no help page") << false;
    QTest::newRow("help page beside the program") << true;
}

void TestWindowKeys::f2KeepsTheWindowUsable()
{
    QFETCH(bool, pagePresent);

    if (pagePresent) {
        QFile page(helpPagePath());
        QVERIFY(page.open(QIODevice::WriteOnly));
        page.write("<html><body>help</body></html>\n");
    }
    QLineEdit *name = field("txtDeviceName");
    QTest::keyClicks(name, QStringLiteral("host"));
    QTest::keyClick(name, Qt::Key_F2);
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

// An executable in the help page's place shows which file F2 hands to the
// shell, without any browser.
void TestWindowKeys::f2OpensThePageBesideTheProgram()
{
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    const QString marker = folder.filePath(QStringLiteral("opened"));
    QVERIFY(MarkerScript::writeExecutable(helpPagePath(),
                                          "#!/bin/sh\necho \"$#\" > '" + QFile::encodeName(marker) + "'\n"));

    QTest::keyClick(field("txtDeviceName"), Qt::Key_F2);
    QVERIFY(QTest::qWaitFor([&marker] { return QFile::exists(marker); }, 20000));
    QFile opened(marker);
    QVERIFY(opened.open(QIODevice::ReadOnly));
    QCOMPARE(opened.readAll(), QByteArray("0\n")); // no parameters
    QVERIFY(m_form->isVisible());
}

QTEST_MAIN(TestWindowKeys)
#include "tst_windowkeys.moc"
