#include "core/platform/Paths.h"

#include <QDir>
#include <QStandardPaths>

QString UserDataFolder()
{
    QString l_base = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (l_base.isEmpty())
        l_base = QDir::homePath() + QStringLiteral("/.local/share");
    return l_base + QStringLiteral("/kestrune-client");
}

QString DataFilePath()
{
    const QString l_folder = UserDataFolder();
    QDir().mkpath(l_folder);
    return l_folder + QStringLiteral("/kestrune-client.dat");
}

QString LogFolder()
{
    return UserDataFolder() + QStringLiteral("/kstr-client-logs");
}

QString DefaultDownloadFolder()
{
    return QDir::homePath() + QStringLiteral("/kestrune-downloads");
}
