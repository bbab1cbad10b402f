#pragma once

#include <QElapsedTimer>
#include <QMutex>
#include <QThread>
#include <QtGlobal>

class QFile;
class QTcpSocket;

// What a download thread and an upload thread share: the stop flag, the
// hand-over of the file connection, the waits on the network and the pace
// of progress reports.
//
// The thread owns its socket and file from Begin until the end of run and
// touches nothing else (never the item store). The socket lives on the
// thread meanwhile and is moved back to the thread that made this object
// before the final report, so that the owner can close and delete it there;
// the file is closed before the final report too. Exactly one of Complete
// or Error ends every run.
//
// No wait lasts longer than WaitSliceMs between two readings of the stop
// flag, so a stop request ends the thread quickly, whatever the peer does;
// the time limits on the network (NetworkWaitMs) still hold in total.
class TransferThread : public QThread
{
    Q_OBJECT

public:
    static constexpr int NetworkWaitMs = 30000;
    static constexpr int WaitSliceMs = 100;
    static constexpr int ChunkBytes = 8192;

    // Neither the socket nor the file is owned. The object must not be
    // deleted while the thread runs.
    TransferThread(QTcpSocket* ip_socket, QFile* ip_file);

    // Callable from any thread.
    void SignalExit();
    bool ExitRequested() const;

    // Moves the socket to the thread and starts it, unless a stop was asked
    // for first (then nothing runs and nothing is reported). Called on the
    // socket's thread, from the event loop: never from inside a signal of
    // the socket, whose emitter goes on using it on the way out.
    void Begin();

    // Progress is reported at most once per interval, plus the first and
    // the last position of a run, so the figures shown end exact. 0 reports
    // every chunk. Applies to threads that start afterwards.
    static void SetReportIntervalMs(int i_ms);
    static int ReportIntervalMs();

signals:
    void Progress(qint64 i_offset, int i_bytesPerSecond);
    void Complete();
    void Error();

protected:
    void run() override;
    // The data phase; true when it succeeded.
    virtual bool Perform() = 0;

    QTcpSocket& Socket() { return *mp_socket; }
    QFile& File() { return *mp_file; }

    // True once something waits to be read; false on a stop request, a
    // closed or broken connection, or NetworkWaitMs without data.
    bool WaitForData();
    // True once every byte handed to the socket has left; false on a stop
    // request, a broken connection, or NetworkWaitMs without progress.
    bool WaitUntilWritten();
    // Until the peer closes, a stop request, or NetworkWaitMs.
    void WaitForClose();
    // Notes the position and speed after a chunk and reports them when due.
    void NoteProgress(qint64 i_offset, int i_bytesPerSecond);
    // Bytes per second over the milliseconds, within 32 bits; 0 before the
    // first millisecond.
    static int Speed(qint64 i_bytes, qint64 i_ms);

private:
    QTcpSocket* mp_socket;
    QFile* mp_file;
    QThread* mp_home;
    mutable QMutex m_exitMutex;
    bool m_exit = false;

    int m_reportIntervalMs = 0;
    QElapsedTimer m_sinceReport;
    qint64 m_offset = 0;
    int m_bytesPerSecond = 0;
    bool m_unreported = false;
};
