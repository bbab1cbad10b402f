#include "transfers/TransferThread.h"

#include <QFile>
#include <QMutexLocker>
#include <QTcpSocket>

#include <atomic>
#include <limits>

namespace
{
std::atomic<int> g_reportIntervalMs{100};

// The milliseconds left of a wait that started i_waitedMs ago, within one
// slice.
int Slice(qint64 i_waitedMs)
{
    return static_cast<int>(
        qBound<qint64>(1, qint64(TransferThread::NetworkWaitMs) - i_waitedMs, qint64(TransferThread::WaitSliceMs)));
}

// A wait that ended without its event: a time-out of the slice is no
// failure, anything else is.
bool SliceTimedOut(const QTcpSocket& i_socket)
{
    return i_socket.error() == QAbstractSocket::SocketTimeoutError;
}
}  // namespace

TransferThread::TransferThread(QTcpSocket* ip_socket, QFile* ip_file)
    : mp_socket(ip_socket), mp_file(ip_file), mp_home(QThread::currentThread())
{
}

void TransferThread::SignalExit()
{
    QMutexLocker l_lock(&m_exitMutex);
    m_exit = true;
}

bool TransferThread::ExitRequested() const
{
    QMutexLocker l_lock(&m_exitMutex);
    return m_exit;
}

void TransferThread::Begin()
{
    if (ExitRequested() || isRunning() || isFinished())
        return;
    // A socket with a parent cannot change threads.
    mp_socket->setParent(nullptr);
    mp_socket->moveToThread(this);
    start();
}

void TransferThread::SetReportIntervalMs(int i_ms)
{
    g_reportIntervalMs = qMax(i_ms, 0);
}

int TransferThread::ReportIntervalMs()
{
    return g_reportIntervalMs;
}

void TransferThread::run()
{
    m_reportIntervalMs = g_reportIntervalMs;
    const bool l_succeeded = Perform();
    if (m_unreported)
        emit Progress(m_offset, m_bytesPerSecond);
    mp_socket->moveToThread(mp_home);
    mp_file->close();
    if (l_succeeded)
        emit Complete();
    else
        emit Error();
}

bool TransferThread::WaitForData()
{
    QElapsedTimer l_waited;
    l_waited.start();
    while (mp_socket->bytesAvailable() == 0) {
        if (ExitRequested() || mp_socket->state() != QAbstractSocket::ConnectedState
            || l_waited.elapsed() >= NetworkWaitMs)
            return false;
        if (!mp_socket->waitForReadyRead(Slice(l_waited.elapsed())) && !SliceTimedOut(*mp_socket))
            return mp_socket->bytesAvailable() > 0;
    }
    return true;
}

bool TransferThread::WaitUntilWritten()
{
    QElapsedTimer l_sinceProgress;
    l_sinceProgress.start();
    qint64 l_left = mp_socket->bytesToWrite();
    while (l_left > 0) {
        if (ExitRequested() || mp_socket->state() != QAbstractSocket::ConnectedState
            || l_sinceProgress.elapsed() >= NetworkWaitMs)
            return false;
        if (!mp_socket->waitForBytesWritten(Slice(l_sinceProgress.elapsed())) && !SliceTimedOut(*mp_socket))
            return false;
        const qint64 l_now = mp_socket->bytesToWrite();
        if (l_now < l_left) {
            l_left = l_now;
            l_sinceProgress.restart();
        }
    }
    return true;
}

void TransferThread::WaitForClose()
{
    QElapsedTimer l_waited;
    l_waited.start();
    while (mp_socket->state() != QAbstractSocket::UnconnectedState && !ExitRequested()
           && l_waited.elapsed() < NetworkWaitMs) {
        if (!mp_socket->waitForDisconnected(Slice(l_waited.elapsed())) && !SliceTimedOut(*mp_socket))
            return;
    }
}

void TransferThread::NoteProgress(qint64 i_offset, int i_bytesPerSecond)
{
    m_offset = i_offset;
    m_bytesPerSecond = i_bytesPerSecond;
    if (m_sinceReport.isValid() && m_sinceReport.elapsed() < m_reportIntervalMs) {
        m_unreported = true;
        return;
    }
    m_unreported = false;
    m_sinceReport.start();
    emit Progress(i_offset, i_bytesPerSecond);
}

int TransferThread::Speed(qint64 i_bytes, qint64 i_ms)
{
    if (i_ms <= 0)
        return 0;
    return static_cast<int>(qMin<qint64>(i_bytes * 1000 / i_ms, std::numeric_limits<int>::max()));
}
