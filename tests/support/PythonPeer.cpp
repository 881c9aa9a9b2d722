#include "PythonPeer.h"

#include <QDeadlineTimer>

PythonPeer::PythonPeer(const QString &script, const QStringList &arguments)
{
    m_process.start(QStringLiteral("/usr/bin/python3"),
        QStringList { QStringLiteral(OSTREL_TEST_SUPPORT_DIR "/") + script } + arguments);
    const QDeadlineTimer deadline(20000);
    while (!m_process.canReadLine() && m_process.waitForReadyRead(int(deadline.remainingTime())))
        continue;
    const QByteArray line = m_process.readLine();
    if (line.startsWith("ready "))
        m_port = quint16(line.mid(6).trimmed().toUInt());
    else
        m_error = script + QStringLiteral(" did not come up: ")
            + QString::fromLocal8Bit(line + m_process.readAllStandardError());
}

PythonPeer::~PythonPeer()
{
    m_process.closeWriteChannel();
    if (!m_process.waitForFinished(5000))
        m_process.kill(), m_process.waitForFinished(5000);
}
