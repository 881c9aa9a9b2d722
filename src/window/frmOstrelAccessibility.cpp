// What a screen reader says for each control: a name of its own, taken from
// the label beside it where there is one, and a description where that name
// alone leaves the user guessing.
#include "window/frmOstrel.h"

#include "window/PushButton.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QScrollBar>

void frmOstrel::describeControls()
{
    // A field beside a label is named by it: Qt would name it after its frame.
    lblDeviceName->setBuddy(txtDeviceName);
    lblEXEName->setBuddy(txtEXE);
    lblArg->setBuddy(txtArg);
    lblEmailAddr->setBuddy(txtMail);
    lblMailServer->setBuddy(txtMailServer);
    // On Linux Qt gives a list box its current entry as name and leaves its
    // label to the label relation: the list has no label on screen, so one
    // that stays hidden names it.
    auto *lblPorts = new QLabel(QStringLiteral("Service"), frameSettings);
    lblPorts->setObjectName(QStringLiteral("lblPorts"));
    lblPorts->setBuddy(cmbPorts);
    lblPorts->hide();

    struct Text {
        QWidget *control;
        const char *name; // empty: the visible label's
        const char *description;
    };
    const Text texts[] = {
        { txtDeviceName, "", "Host name or IP address of the device to check. Enter starts the check." },
        { optCheck[0], "FTP", "Check port 21" },
        { chkLogon, "With FTP anonymous logon", "After port 21 answered, log on as anonymous" },
        { optCheck[1], "", "Check port 7 and send a ping" },
        { optCheck[2], "", "Check port 25" },
        { optCheck[3], "Other Port", "Check the port number typed beside it" },
        { txtPort, "Port number", "The port Other Port checks, 0 to 65535" },
        { cmbPorts, "", "Well-known service of the port number; choosing one fills in its port" },
        // Its label shows the value, which the bar gives as its own.
        { HScroll1, "Timeout in seconds", "How long the connection may take, 1 to 60 seconds" },
        { imgGreen, "Port available", "" },
        { imgRed, "Port un-available", "" },
        { chkEXE, "If port, execute this command", "Run a command after the check, on OK or N/A" },
        { picEXE, "When to run the command", "" },
        { optEXE[0], "Command on OK", "Run the command when the port is available" },
        { optEXE[1], "Command on N/A", "Run the command when the port is un-available" },
        { txtEXE, "", "Program or document to open; /s at its end starts it silently" },
        { btnBrowse, "Browse for the command", "Pick the command with a file dialog" },
        { txtArg, "", "Arguments for the command; double quotes keep blanks together" },
        { chkMail, "If port, send an SMTP email", "Send a result mail after the check, on OK or N/A" },
        { picMail, "When to send the mail", "" },
        { optMail[0], "Mail on OK", "Send the mail when the port is available" },
        { optMail[1], "Mail on N/A", "Send the mail when the port is un-available" },
        { txtMail, "", "Recipients of the result mail, separated by commas" },
        { txtMailServer, "", "SMTP server that sends the result mail" },
    };
    for (const Text &text : texts) {
        if (*text.name)
            text.control->setAccessibleName(QLatin1String(text.name));
        text.control->setAccessibleDescription(QLatin1String(text.description));
    }
}
