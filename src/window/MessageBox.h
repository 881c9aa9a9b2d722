#pragma once

#include <QMessageBox>
#include <QString>

class QWidget;

// Every modal message of the program goes through here, so that tests can
// answer a message before it is shown instead of blocking on it.
namespace MessageBox {

enum class Icon { Information, Exclamation, Critical };

struct Shown {
    Icon icon;
    QString caption;
    QString text;
    bool busyPointer; // the busy pointer was still up when the message came
};

// Shows a modal message with an OK button and returns the button pressed.
QMessageBox::StandardButton show(QWidget *parent, Icon icon, const QString &caption, const QString &text);

// Tests: the next show() records its message and returns this answer at once.
void setNextAnswer(QMessageBox::StandardButton answer);
// Tests: the messages answered through setNextAnswer, oldest first; cleared on read.
QList<Shown> takeShown();

} // namespace MessageBox
