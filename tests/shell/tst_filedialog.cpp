// The file dialog: how a request is set up, and what the caller gets back.
#include "shell/modDialogFile.h"

#include <QApplication>
#include <QComboBox>
#include <QFileDialog>
#include <QTest>

namespace {

QString filterText(const QStringList &pairs)
{
    return pairs.join(QChar(0)) + QChar(0) + QChar(0);
}

const QString kBrowseFilter = filterText({modDialogFile::kProgramsFilter + QStringLiteral(" (*)"), QStringLiteral("*"),
                                          QStringLiteral("EXE Files (*.exe)"), QStringLiteral("*.exe"),
                                          QStringLiteral("All Files (*.*)"), QStringLiteral("*.*")});

} // namespace

class TestFileDialog : public QObject
{
    Q_OBJECT
private slots:
    void programsFilterListsExecutablesOnly();
    void saveDialogAsksBeforeOverwriting();
    void multipleChoiceIsJoinedByCommas();
};

void TestFileDialog::programsFilterListsExecutablesOnly()
{
    QFileDialog dialog;
    modDialogFile::configure(dialog, 1, QString(), QString(), kBrowseFilter, QString(), QString(), std::nullopt);
    QVERIFY(dialog.filter().testFlag(QDir::Executable));

    // The user picks "All Files" from the dialog's own list of filters.
    auto *types = dialog.findChild<QComboBox *>(QStringLiteral("fileTypeCombo"));
    QVERIFY(types);
    types->setCurrentIndex(2);
    emit types->textActivated(types->currentText());
    QVERIFY(!dialog.filter().testFlag(QDir::Executable));
    QVERIFY(dialog.filter().testFlag(QDir::Files));

    types->setCurrentIndex(0);
    emit types->textActivated(types->currentText());
    QVERIFY(dialog.filter().testFlag(QDir::Executable));
}

void TestFileDialog::saveDialogAsksBeforeOverwriting()
{
    QFileDialog dialog;
    modDialogFile::configure(dialog, 2, QStringLiteral("Save"), QStringLiteral("result.txt"),
                             filterText({QStringLiteral("Text (*.txt)"), QStringLiteral("*.txt")}),
                             QDir::tempPath(), QStringLiteral("txt"), std::nullopt);
    QCOMPARE(dialog.acceptMode(), QFileDialog::AcceptSave);
    QCOMPARE(dialog.fileMode(), QFileDialog::AnyFile);
    QVERIFY(!dialog.testOption(QFileDialog::DontConfirmOverwrite));
    QCOMPARE(dialog.defaultSuffix(), QStringLiteral("txt"));
    QCOMPARE(QDir(dialog.directory()).canonicalPath(), QDir(QDir::tempPath()).canonicalPath());
}

void TestFileDialog::multipleChoiceIsJoinedByCommas()
{
    QFileDialog several;
    modDialogFile::configure(several, 1, QString(), QString(), kBrowseFilter, QString(), QString(), true);
    QCOMPARE(several.fileMode(), QFileDialog::ExistingFiles);
    QCOMPARE(modDialogFile::joinChoice({}), QString());
    QCOMPARE(modDialogFile::joinChoice({QStringLiteral("/opt/my tools/check.sh")}),
             QStringLiteral("/opt/my tools/check.sh"));
    QCOMPARE(modDialogFile::joinChoice({QStringLiteral("/opt/tools/a.sh"), QStringLiteral("/opt/tools/b c.sh")}),
             QStringLiteral("/opt/tools,a.sh,b c.sh"));
}

QTEST_MAIN(TestFileDialog)
#include "tst_filedialog.moc"
