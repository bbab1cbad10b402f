#pragma once

#include <QByteArray>
#include <QtGlobal>

#include <csignal>
#include <functional>
#include <sys/wait.h>
#include <unistd.h>

// Runs i_action in a child process and returns what it wrote to stderr; sets
// o_aborted when the child died of SIGABRT (a failed assertion, qFatal). For
// checking that a misuse stops the program.
inline QByteArray RunInChild(const std::function<void()>& i_action, bool& o_aborted)
{
    o_aborted = false;
    int l_pipe[2];
    if (pipe(l_pipe) != 0)
        return QByteArray();
    const pid_t l_pid = fork();
    if (l_pid == 0) {
        dup2(l_pipe[1], STDERR_FILENO);
        close(l_pipe[0]);
        // The plain behaviour, not the test framework's handlers.
        qInstallMessageHandler(nullptr);
        signal(SIGABRT, SIG_DFL);
        i_action();
        _exit(0);
    }
    close(l_pipe[1]);
    QByteArray l_output;
    char l_chunk[512];
    ssize_t l_read;
    while ((l_read = read(l_pipe[0], l_chunk, sizeof l_chunk)) > 0)
        l_output.append(l_chunk, l_read);
    close(l_pipe[0]);
    int l_status = 0;
    waitpid(l_pid, &l_status, 0);
    o_aborted = WIFSIGNALED(l_status) && WTERMSIG(l_status) == SIGABRT;
    return l_output;
}
