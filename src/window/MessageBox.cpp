#include "window/MessageBox.h"

#include <QGuiApplication>
#include <QList>

namespace MessageBox {

namespace {

    QList<QMessageBox::StandardButton> &presetAnswers()
    {
        static QList<QMessageBox::StandardButton> answers;
        return answers;
    }

    QList<Shown> &answeredMessages()
    {
        static QList<Shown> shown;
        return shown;
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
    if (!presetAnswers().isEmpty()) {
        answeredMessages().append({ icon, caption, text, QGuiApplication::overrideCursor() != nullptr });
        return presetAnswers().takeFirst();
    }
    QMessageBox box(boxIcon(icon), caption, text, QMessageBox::Ok, parent);
    // A path such as "/tmp/a<i>.sh" is shown as typed, never as markup.
    box.setTextFormat(Qt::PlainText);
    return static_cast<QMessageBox::StandardButton>(box.exec());
}

void setNextAnswer(QMessageBox::StandardButton answer) { presetAnswers().append(answer); }

QList<Shown> takeShown() { return std::exchange(answeredMessages(), {}); }

} // namespace MessageBox
