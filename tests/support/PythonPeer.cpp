#include "PythonPeer.h"

#include <QDeadlineTimer>
#include <QDir>

PythonPeer::PythonPeer(const QString &script, const QStringList &arguments)
{
    m_process.setProcessChannelMode(QProcess::SeparateChannels);
    m_process.start(QStringLiteral("/usr/bin/python3"),
                    QStringList{QDir(QStringLiteral(OSTREL_TEST_SUPPORT_DIR)).filePath(script)} + arguments);
    const QDeadlineTimer deadline(20000);
    QByteArray output;
    while (!deadline.hasExpired() && m_process.state() != QProcess::NotRunning) {
        if (m_process.canReadLine() || m_process.waitForReadyRead(static_cast<int>(deadline.remainingTime()))) {
            output += m_process.readLine();
            if (output.startsWith("ready ") && output.endsWith('\n')) {
                m_port = static_cast<quint16>(output.mid(6).trimmed().toUInt());
                return;
            }
        }
    }
    m_error = QStringLiteral("%1 did not come up: %2 %3")
                  .arg(script, QString::fromLocal8Bit(output),
                       QString::fromLocal8Bit(m_process.readAllStandardError()));
}

PythonPeer::~PythonPeer()
{
    m_process.closeWriteChannel();
    if (!m_process.waitForFinished(5000)) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
}
