#pragma once

#include <QObject>

class QSocketNotifier;

// Turns SIGTERM and SIGINT into a Qt signal on the thread that created this
// object, so that the desktop's log-out or a Ctrl+C in a terminal ends the
// event loop normally and the shut-down (the final save) runs.
//
// The handlers only write the signal number to one end of a socket pair (an
// async-signal-safe call); the other end is watched by the event loop.
class TerminationSignals : public QObject
{
    Q_OBJECT

public:
    // Installs the handlers unless they are installed already, and watches
    // for their signals. A signal that came after InstallHandlers() and
    // before this object is reported once the event loop runs. One object
    // at a time; destroying it restores the default actions.
    explicit TerminationSignals(QObject* ip_parent = nullptr);
    ~TerminationSignals() override;

    // Installs the handlers without an event loop to report to yet, so that
    // a signal during start-up waits for the loop instead of killing the
    // process. False when the socket pair or the handlers could not be set up.
    static bool InstallHandlers();

    bool IsWatching() const { return mp_notifier != nullptr; }

signals:
    void TerminationRequested(int i_signal);

private:
    void OnReadable();

    QSocketNotifier* mp_notifier = nullptr;
};
