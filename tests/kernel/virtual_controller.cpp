#include "virtual_controller.h"

#include <QElapsedTimer>
#include <QFile>
#include <QThread>

VirtualController::~VirtualController()
{
    stop();
}

bool VirtualController::start(const QStringList &arguments, QString &error)
{
    m_logPath = m_dir.filePath(QStringLiteral("device.log"));
    m_consumed = 0;
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process.start(QStringLiteral(VNK_UHID_CONTROLLER),
                    QStringList{QStringLiteral("--log"), m_logPath} + arguments);
    if (!m_process.waitForStarted(10000)) {
        error = QStringLiteral("cannot start %1: %2").arg(QStringLiteral(VNK_UHID_CONTROLLER), m_process.errorString());
        return false;
    }
    QElapsedTimer clock;
    clock.start();
    while (!m_process.canReadLine() && m_process.state() == QProcess::Running && clock.elapsed() < 20000)
        m_process.waitForReadyRead(100);
    const QString line = QString::fromUtf8(m_process.readLine()).trimmed();
    if (!line.startsWith(QLatin1String("ready /dev/hidraw"))) {
        error = QStringLiteral("the virtual controller did not come up (said \"%1\")").arg(line);
        stop();
        return false;
    }
    m_node = line.mid(6);
    return true;
}

void VirtualController::stop()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.terminate();
    if (!m_process.waitForFinished(5000)) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
}

QStringList VirtualController::takeLines(int atLeast, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    QStringList lines;
    for (;;) {
        QFile log(m_logPath);
        if (log.open(QIODevice::ReadOnly) && log.seek(m_consumed)) {
            // Only whole lines: the device may be in the middle of one.
            const QByteArray text = log.readAll();
            const qsizetype end = text.lastIndexOf('\n') + 1;
            m_consumed += end;
            for (const QByteArray &line : text.left(end).split('\n'))
                if (!line.isEmpty())
                    lines << QString::fromLatin1(line);
        }
        if (lines.size() >= atLeast || clock.elapsed() >= timeoutMs)
            return lines;
        QThread::msleep(5);
    }
}

QString VirtualController::reportHex(const char *prefixHex, int size)
{
    QByteArray bytes = QByteArray::fromHex(prefixHex);
    bytes.append(size - bytes.size(), '\0');
    return QString::fromLatin1(bytes.toHex(' '));
}
