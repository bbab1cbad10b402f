#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

// The far side of a run in a child process of this program: started with
// the arguments, its standard output gathered (its standard error goes
// through), its end ending the event loop. It says "ready 1" once the run
// may begin; later lines hold its figures, name first.
class PeersProcess
{
public:
    explicit PeersProcess(const QStringList& i_arguments);
    ~PeersProcess();
    PeersProcess(const PeersProcess&) = delete;
    PeersProcess& operator=(const PeersProcess&) = delete;

    // Waits up to i_ms for its "ready" line; false when it ended, or the
    // time ran out, first.
    bool WaitReady(int i_ms);
    // Runs the event loop until the process ends, or i_ms at most, then
    // ends it and takes in the rest of its output.
    void RunToEnd(int i_ms);
    const QString& Output() const { return m_output; }
    // The rest of the output's last line that starts with the name.
    QString Figure(const QString& i_name) const;

private:
    QProcess m_process;
    QString m_output;
};
