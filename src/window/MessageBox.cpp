#include "window/MessageBox.h"

#include <QList>

namespace MessageBox {

namespace {

    QList<QMessageBox::StandardButton> &presetAnswers()
    {
        static QList<QMessageBox::StandardButton> answers;
        return answers;
    }

    QMessageBox::Icon boxIcon(Icon icon)
    {
        switch (icon) {
        case Icon::Information:
            return QMessageBox::Information;
        case Icon::Exclamation:
            return QMessageBox::Warning;
        case Icon::Critical:
            return QMessageBox::Critical;
        }
        return QMessageBox::NoIcon;
    }

} // namespace

QMessageBox::StandardButton show(QWidget *parent, Icon icon, const QString &caption, const QString &text)
{
    if (!presetAnswers().isEmpty())
        return presetAnswers().takeFirst();
    QMessageBox box(boxIcon(icon), caption, text, QMessageBox::Ok, parent);
    // A path such as "/tmp/a<i>.sh" is shown as typed, never as markup.
    box.setTextFormat(Qt::PlainText);
    return static_cast<QMessageBox::StandardButton>(box.exec());
}

void setNextAnswer(QMessageBox::StandardButton answer) { presetAnswers().append(answer); }

} // namespace MessageBox
