// The check action: the window's fields become one check, its outcome the
// result text and light, then the follow-ups whose trigger matches.
#include "window/frmOstrel.h"

#include "base/TextRules.h"
#include "base/Version.h"
#include "followup/Command.h"
#include "followup/ResultMail.h"
#include "net/FtpProbe.h"
#include "net/TcpProbe.h"
#include "net/modIP32.h"
#include "qt/EventWait.h"
#include "qt/Utf8.h"
#include "window/MessageBox.h"

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QScopedValueRollback>
#include <QScrollBar>

namespace {

// The busy pointer for the whole screen, shown until restored or destroyed.
class BusyPointer {
public:
    BusyPointer() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~BusyPointer() { restore(); }
    void restore()
    {
        if (std::exchange(m_shown, false))
            QApplication::restoreOverrideCursor();
    }

private:
    bool m_shown = true;
};

} // namespace

void frmOstrel::btnCheck_Click()
{
    // Nothing is disabled while a check runs, and its waits let clicks
    // through: a second check would share the probes, so it is refused.
    if (m_checkRunning)
        return;
    const QScopedValueRollback<bool> running(m_checkRunning, true);
    runCheck();
}

quint16 frmOstrel::portOfCheckKind() const
{
    if (optCheck[0]->isChecked())
        return 21;
    if (optCheck[1]->isChecked())
        return 7;
    if (optCheck[2]->isChecked())
        return 25;
    return TextRules::toPortNumber(Utf8::from(txtPort->text())).value_or(0);
}

void frmOstrel::runCheck()
{
    clearResult();
    bolSaveSettings = true;

    BusyPointer busy;
    repaint();
    // Lets the window repaint and take input; false once it has been closed,
    // and the check then stops where it is.
    const auto yield = [this] {
        QCoreApplication::processEvents();
        return !m_closed;
    };
    const auto warn = [this, &busy](const QString &text) {
        busy.restore();
        MessageBox::show(this, MessageBox::Icon::Exclamation, QLatin1String(Version::kTitle), text);
    };
    if (!yield())
        return;

    // Every wait of the check runs the event loop.
    EventWaiter waiter;
    const QString deviceName = txtDeviceName->text();
    const std::string device = deviceName.toStdString();
    // A dotted address is shown as typed; a name gives every address it has, the first one shown.
    const std::vector<Address> addresses = Addresses::ofDevice(device, Wait::kForever, waiter).addresses;
    if (!yield())
        return;
    const QString address = modIP32::Is_IPAddress(device) ? deviceName
        : addresses.empty()                               ? QString()
                                                          : Utf8::to(addresses.front().text());
    if (address.isEmpty()) {
        warn(QStringLiteral("Invalid IP address, please re-enter device name."));
        return;
    }

    const quint16 port = portOfCheckKind();
    const auto timeout = static_cast<qint16>(HScroll1->value());
    bool pingReplied = false;
    if (port == 7)
        pingReplied = modIP32::Ping_Host(address.toStdString(), 2, 200, "echo request", waiter);

    if (!yield())
        return;
    lblResult->setText(QStringLiteral("Connecting to...") + address);
    if (!yield())
        return;

    const bool passed = TcpProbe::Check_Socket(addresses, port, timeout, waiter).accepted;
    // One pass after the probe, and one more before its outcome is shown.
    if (!yield() || !yield())
        return;

    QString result;
    if (passed && optCheck[0]->isChecked() && chkLogon->checkState() == Qt::Checked) {
        const bool loggedOn = FtpProbe::Check_FTP(addresses, "anonymous", "guestpass", timeout, waiter);
        if (m_closed)
            return;
        result = loggedOn ? QStringLiteral("Port Available, Logon Successfull")
                          : QStringLiteral("Port Available, Logon failed");
    } else {
        result = passed ? QStringLiteral("Port Available") : QStringLiteral("Port Un-Available");
        if (port == 7 && pingReplied)
            result += QStringLiteral(", Ping reply OK");
    }
    showResult(result, passed);

    // The command goes first; its failure does not keep the mail back. The
    // mail and the command's environment name the port that was probed: for
    // the FTP, Ping/Echo and SMTP kinds the port field may hold another number.
    const int trigger = passed ? 0 : 1;
    modWin32Api::Launch launch;
    launch.environment = Command::checkEnvironment(device, std::to_string(port), passed);
    launch.waiter = &waiter;
    if (chkEXE->checkState() == Qt::Checked && optEXE[trigger]->isChecked()
        && !Command::Run_Command(txtEXE->text().toStdString(), txtArg->text().toStdString(), launch) && !m_closed)
        warn(QStringLiteral("Error executing specified command, ") + txtEXE->text());
    std::string failure;
    if (chkMail->checkState() == Qt::Checked && optMail[trigger]->isChecked() && !m_closed
        && !ResultMail::Send_ResultMail(Utf8::from(txtMailServer->text()), Utf8::from(txtMail->text()),
            std::to_string(port), device, passed, waiter, failure)
        && !m_closed)
        warn(QStringLiteral("Error sending SMTP email.\n") + Utf8::to(failure));
}
