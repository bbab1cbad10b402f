#pragma once

#include <QString>

// Keeps a second client of the same user from running beside the first.
//
// The guard is an exclusive advisory lock (flock) on a file named after the
// key "kestrune_qt_shared_memory" in the user's runtime folder. The kernel
// drops the lock when the holding process ends in any way, a kill included,
// so a crashed client never locks the user out; a shared-memory segment
// would outlive it. The lock file itself is left in place.
class SingleInstanceGuard
{
public:
    enum class Result
    {
        Acquired,      // this process is now the one instance
        HeldElsewhere, // another live process holds the guard
        Unavailable    // no lock file could be made: run unguarded
    };

    static constexpr char Key[] = "kestrune_qt_shared_memory";

    // The lock file in i_folder, or in DefaultFolder() when it is empty.
    explicit SingleInstanceGuard(const QString& i_folder = QString());
    // Releases the guard if held.
    ~SingleInstanceGuard();
    SingleInstanceGuard(const SingleInstanceGuard&) = delete;
    SingleInstanceGuard& operator=(const SingleInstanceGuard&) = delete;

    // Never waits. Asking again while held gives Acquired.
    Result TryAcquire();
    void Release();
    bool IsHeld() const { return m_fd >= 0; }

    QString LockFilePath() const { return m_path; }

    // $XDG_RUNTIME_DIR when it names a folder, else the temporary folder
    // (where the file name then carries the user id, as that folder is
    // shared between users).
    static QString DefaultFolder();

private:
    QString m_path;
    int m_fd = -1;
};
