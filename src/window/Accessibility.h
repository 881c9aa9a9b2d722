#pragma once

#include <QGroupBox>
#include <QLabel>

// What assistive technology (a screen reader, over AT-SPI) meets in the
// check window beyond what Qt gives every widget.
namespace Accessibility {

// Makes Qt describe the classes below as they say; once per process.
void install();

} // namespace Accessibility

// A frame of the window. Its controls that are hidden (a light that is off)
// are left out of the accessible tree, and its name is its caption without
// the blanks that space it on screen.
class WindowFrame : public QGroupBox {
    Q_OBJECT
public:
    using QGroupBox::QGroupBox;
};

// The result of a check, read as a notification whose name is the text
// shown. announce() makes it appear anew, which screen readers speak at once
// (Orca does for a notification that is shown) without moving the focus.
class ResultLabel : public QLabel {
    Q_OBJECT
public:
    using QLabel::QLabel;
    void announce();
};
