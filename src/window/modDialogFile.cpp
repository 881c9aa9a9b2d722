#include "window/modDialogFile.h"

#include <QFileDialog>
#include <QFileSystemModel>
#include <QRegularExpression>
#include <QSortFilterProxyModel>

namespace modDialogFile {

namespace {

    struct NameFilter {
        QString label; // shown as given
        QList<QRegularExpression> names; // empty: programs and scripts
    };

    // "EXE Files (*.exe)\0*.exe\0All Files (*.*)\0*.*\0\0" -> one entry a pair.
    QList<NameFilter> nameFilters(const QString &filter)
    {
        QStringList parts = filter.split(QChar(0));
        while (!parts.isEmpty() && parts.last().isEmpty())
            parts.removeLast();
        QList<NameFilter> filters;
        for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
            NameFilter entry { parts.at(i), {} };
            if (!entry.label.startsWith(kProgramsFilter)) {
                for (QString pattern : parts.at(i + 1).split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
                    // "*.*" means every file, also those without a dot in their names.
                    if (pattern.trimmed() == QLatin1String("*.*"))
                        pattern = QStringLiteral("*");
                    entry.names << QRegularExpression(
                        QRegularExpression::wildcardToRegularExpression(pattern.trimmed()),
                        QRegularExpression::CaseInsensitiveOption);
                }
            }
            filters << entry;
        }
        return filters;
    }

    // Qt's dialog reads its patterns from the label's parentheses and its model
    // filters permissions backwards, so the dialog is given every name and the
    // files are chosen here: folders always, then by name or by being runnable.
    class FileFilter : public QSortFilterProxyModel {
    public:
        void use(const NameFilter &filter)
        {
            m_filter = filter;
            invalidateFilter();
        }

    protected:
        bool filterAcceptsRow(int row, const QModelIndex &parent) const override
        {
            const auto *files = static_cast<const QFileSystemModel *>(sourceModel());
            const QFileInfo info = files->fileInfo(files->index(row, 0, parent));
            if (info.isDir())
                return true;
            if (m_filter.names.isEmpty())
                return info.isExecutable();
            for (const QRegularExpression &name : m_filter.names) {
                if (name.match(info.fileName()).hasMatch())
                    return true;
            }
            return false;
        }

    private:
        NameFilter m_filter;
    };

} // namespace

QString Show_FileDialog(QWidget *owner, const QString &title, const QString &filter)
{
    QFileDialog dialog(owner, title);
    // Qt's own dialog: the same everywhere, and usable without a desktop.
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    // Only existing files in existing folders can be chosen.
    dialog.setFileMode(QFileDialog::ExistingFile);
    const QList<NameFilter> filters = nameFilters(filter);
    QStringList labels;
    for (const NameFilter &entry : filters)
        labels << entry.label;
    dialog.setNameFilters(labels);

    auto *chosen = new FileFilter;
    dialog.setProxyModel(chosen);
    const auto apply = [&filters, chosen](const QString &label) {
        if (auto *files = qobject_cast<QFileSystemModel *>(chosen->sourceModel()))
            files->setNameFilters({ QStringLiteral("*") });
        for (const NameFilter &entry : filters) {
            if (entry.label == label)
                chosen->use(entry);
        }
    };
    QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog, apply);
    if (!labels.isEmpty()) {
        dialog.selectNameFilter(labels.first());
        apply(labels.first());
    }
    if (dialog.exec() != QDialog::Accepted)
        return QString();
    return dialog.selectedFiles().value(0);
}

} // namespace modDialogFile
