#pragma once

#include <QPushButton>

// The window's push buttons: a caption with its access key, an optional
// icon, a tooltip, an enabled state and a click. With an icon the picture
// sits above the caption, as on a toolbar button, so that a narrow button
// still shows both. Enter presses the focused button, as on any desktop
// (Qt leaves that to buttons in dialogs).
class PushButton : public QPushButton {
    Q_OBJECT
public:
    using QPushButton::QPushButton;

protected:
    void paintEvent(QPaintEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
};
