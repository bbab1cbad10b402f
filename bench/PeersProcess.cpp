#include "PeersProcess.h"

#include "BenchLines.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

PeersProcess::PeersProcess(const QStringList& i_arguments)
{
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QObject::connect(&m_process, &QProcess::readyReadStandardOutput,
                     [this] { m_output += QString::fromUtf8(m_process.readAllStandardOutput()); });
    QObject::connect(&m_process, &QProcess::finished, [] { QCoreApplication::quit(); });
    m_process.start(QCoreApplication::applicationFilePath(), i_arguments);
}

PeersProcess::~PeersProcess()
{
    QObject::disconnect(&m_process, nullptr, nullptr, nullptr);
    if (m_process.state() != QProcess::NotRunning) {
        m_process.kill();
        m_process.waitForFinished(10000);
    }
}

bool PeersProcess::WaitReady(int i_ms)
{
    QElapsedTimer l_wait;
    l_wait.start();
    while (Figure("ready").isEmpty() && m_process.state() != QProcess::NotRunning && l_wait.elapsed() < i_ms)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
    return !Figure("ready").isEmpty();
}

void PeersProcess::RunToEnd(int i_ms)
{
    QTimer::singleShot(i_ms, [] { QCoreApplication::quit(); });
    if (m_process.state() != QProcess::NotRunning)
        QCoreApplication::exec();
    m_process.kill();
    m_process.waitForFinished(10000);
    m_output += QString::fromUtf8(m_process.readAllStandardOutput());
}

QString PeersProcess::Figure(const QString& i_name) const
{
    return BenchLines::LastFigure(m_output, i_name);
}
