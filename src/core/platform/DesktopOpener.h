#pragma once

#include <QString>
#include <QUrl>

#include <functional>

// Opening a file, a folder or a web page with the desktop's default handler.
// Every such request of the program goes through OpenWithDesktop, so one
// replaceable function decides what happens: the application installs the
// desktop's opener at start, tests install one that records the requests.
using DesktopOpener = std::function<bool(const QUrl&)>;

// Replaces the opener; an empty function leaves none installed.
void SetDesktopOpener(DesktopOpener i_opener);

// Hands the address to the installed opener; false when none is installed or
// the opener failed. GUI thread only.
bool OpenWithDesktop(const QUrl& i_url);

// A local file or folder, by path.
bool OpenLocalPathWithDesktop(const QString& i_path);
