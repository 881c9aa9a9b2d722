#pragma once

#include <QDialog>

class QLabel;
class QPushButton;

// The program's title and version, what it is, who wrote it and the usual
// disclaimer. Closes on its Close button, Escape, or a double click on its icon.
class AboutWindow : public QDialog {
    Q_OBJECT
public:
    explicit AboutWindow(QWidget *parent = nullptr);

    // Shows the window modally over `parent` and returns once it is closed.
    static void showModal(QWidget *parent);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QLabel *imgIcon;
    QLabel *lblTitle;
    QLabel *lblProduct;
    QLabel *lblAuthor;
    QLabel *lblDisclaimer;
    QPushButton *btnClose;
};
