#pragma once

#include <QObject>

class QLineEdit;

// What a text field of the window does when the user enters it: the whole
// text is selected, so typing replaces it, and the highlighted fields show
// the tooltip background for as long as they keep the focus.
class FieldFocus : public QObject {
    Q_OBJECT
public:
    enum class Colour { Keep, Highlight };

    static void attach(QLineEdit *field, Colour colour);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    FieldFocus(QLineEdit *field, Colour colour);

    void enter(bool byMouse);
    void leave();

    QLineEdit *m_field;
    Colour m_colour;
    bool m_entered = false;
    bool m_pressGaveFocus = false;
};
