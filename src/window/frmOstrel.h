#pragma once

#include "window/Accessibility.h"

#include <QWidget>
#include <array>

class KeyPreview;
class PushButton;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QRadioButton;
class QScrollBar;

// The check window. Laid out in twips at 15 to a pixel; every control
// carries its name as objectName.
class frmOstrel : public QWidget {
    Q_OBJECT
public:
    explicit frmOstrel(QWidget *parent = nullptr);

    // Titles the window, records the resize distances from the design sizes,
    // fills the fields from the stored settings and shows it for interactive use.
    void Form_Load();

protected:
    void closeEvent(QCloseEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void buildPortSettings();
    void buildConnectionResult();
    void arrangeTabOrder();
    void describeControls();
    void connectRules();

    void Form_Unload();
    void Form_Resize();
    void Form_DblClick();
    void Form_KeyDown(int KeyCode, Qt::KeyboardModifiers Shift);

    void Load_Settings();
    void Save_Settings();

    void txtDeviceName_Change();
    void txtDeviceName_KeyPress(int KeyAscii);
    void chkEXE_Click();
    void chkMail_Click();
    void optCheck_Click(int Index);
    void txtPort_Change();
    void cmbPorts_Click();
    void HScroll1_Change();
    void btnCheck_Click();
    void runCheck();
    quint16 portOfCheckKind() const;
    void btnBrowse_Click();

    void clearResult();
    // Shows the outcome of a check with its light and tells assistive technology.
    void showResult(const QString &result, bool passed);

    QGroupBox *frameSettings;
    QLabel *lblDeviceName;
    QLineEdit *txtDeviceName;
    std::array<QRadioButton *, 4> optCheck;
    QCheckBox *chkLogon;
    QLineEdit *txtPort;
    QComboBox *cmbPorts;
    QLabel *lblTimeout;
    QScrollBar *HScroll1;
    PushButton *btnCheck;

    QGroupBox *frameConn;
    QLabel *lblPortCheck;
    QLabel *imgGreen;
    QLabel *imgRed;
    ResultLabel *lblResult;
    QCheckBox *chkEXE;
    QWidget *picEXE;
    std::array<QRadioButton *, 2> optEXE;
    QLabel *lblEXE;
    QLabel *lblEXEName;
    QLineEdit *txtEXE;
    PushButton *btnBrowse;
    QLabel *lblArg;
    QLineEdit *txtArg;
    QCheckBox *chkMail;
    QWidget *picMail;
    std::array<QRadioButton *, 2> optMail;
    QLabel *lblMail;
    QLabel *lblEmailAddr;
    QLineEdit *txtMail;
    QLabel *lblMailServer;
    QLineEdit *txtMailServer;

    // Set by every check started here; the fields are stored on closing only then.
    bool bolSaveSettings = false;

    // Window size minus: txtDeviceName width, txtEXE width, frameConn width;
    // window height minus frameConn height; window width minus the left of
    // btnCheck and of btnBrowse. In twips, taken from the design sizes.
    std::array<qint32, 6> lngMargins {};
    bool m_marginsRecorded = false;

    bool m_checkRunning = false;
    bool m_helpOpening = false;
    bool m_closed = false;
};
