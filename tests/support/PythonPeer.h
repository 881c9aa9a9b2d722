#pragma once

#include <QProcess>
#include <QStringList>

// A test server in Python (tests/support/*.py) run by Debian's interpreter, which has the server
// packages. The script prints "ready <port>" once it listens and ends when its input closes.
class PythonPeer {
public:
    PythonPeer(const QString &script, const QStringList &arguments);
    ~PythonPeer();

    // False when the script did not come up in time; why is in errorText().
    bool isReady() const { return m_port != 0; }
    quint16 port() const { return m_port; }
    QString errorText() const { return m_error; }

private:
    QProcess m_process;
    quint16 m_port = 0;
    QString m_error;
};
