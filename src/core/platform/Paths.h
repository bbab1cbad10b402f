#pragma once

#include <QString>

// Where the client keeps its files on this desktop.
//
// Everything lives in one folder of the user's data area: the generic data
// location of the desktop (XDG_DATA_HOME, by default ~/.local/share) plus
// "/kestrune-client". The generic location is used rather than the
// per-application one so that the paths do not depend on the application and
// organisation names being set, which the log may need before the application
// object exists.

// The client's user data folder (no trailing slash).
QString UserDataFolder();

// The client data file, "kestrune-client.dat" in the user data folder. The
// folder is created when missing, so that the first save can succeed.
QString DataFilePath();

// The folder of the log files, "kstr-client-logs" in the user data folder.
// It is never created by the program: a user who wants log files makes it.
QString LogFolder();

// The download folder used until the user chooses one: ~/kestrune-downloads.
QString DefaultDownloadFolder();
