#pragma once

#include <QWidget>

// The check window.
class frmOstrel : public QWidget
{
    Q_OBJECT
public:
    explicit frmOstrel(QWidget *parent = nullptr);

    // Titles the window and shows it for interactive use.
    void Form_Load();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void Form_Unload();
};
