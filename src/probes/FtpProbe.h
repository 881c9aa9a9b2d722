#pragma once

#include "probes/FtpClientControl.h"
#include "probes/PolledWait.h"

#include <QObject>

// The FTP logon probe and the client it drives, owned by the check window.
class FtpProbe : public QObject {
    Q_OBJECT
public:
    explicit FtpProbe(TimeoutBarReader timeoutBar, QObject *parent = nullptr);

    // True when the FTP service on port 21 of strIP accepted the logon within
    // intTimeOut seconds. Blank strIP gives false without touching the client;
    // so does a call made while another logon of this object is still waiting.
    bool Check_FTP(const QString &strIP, const QString &strName, const QString &strPassword, qint16 intTimeOut);

    FtpClientControl &FtpClient1() { return m_ftpClient1; }

private:
    void closingWait();

    FtpClientControl m_ftpClient1;
    TimeoutBarReader m_timeoutBar;
    bool m_probing = false;
};
