#pragma once

#include <QMessageBox>
#include <QString>

class QWidget;

// Every modal message of the program goes through here, so that tests can
// answer a message before it is shown instead of blocking on it.
namespace MessageBox {

enum class Icon { Information, Exclamation, Critical };

// Shows a modal message with an OK button and returns the button pressed.
QMessageBox::StandardButton show(QWidget *parent, Icon icon, const QString &caption, const QString &text);

// Tests: the next show() returns this answer at once, without showing anything.
void setNextAnswer(QMessageBox::StandardButton answer);

} // namespace MessageBox
