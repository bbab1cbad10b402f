#include "transfers/DownloadLayout.h"

#include "core/persist/Settings.h"
#include "core/platform/Paths.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>

namespace DownloadLayout
{
namespace
{
bool IsSeparator(char i_char)
{
    return i_char == '\\' || i_char == '/';
}
}  // namespace

QString Root()
{
    const std::string l_setting = Settings::Get("download_folder");
    return l_setting.empty() ? DefaultDownloadFolder() : QString::fromStdString(l_setting);
}

std::vector<std::string> RemoteNames(const std::string& i_remoteFolder)
{
    std::string l_folder = i_remoteFolder;
    if (!l_folder.empty() && IsSeparator(l_folder.back()))
        l_folder.pop_back();
    std::vector<std::string> l_names;
    if (l_folder.empty())
        return l_names;
    std::string::size_type l_start = 0;
    for (std::string::size_type l_at = 0; l_at <= l_folder.size(); ++l_at) {
        if (l_at == l_folder.size() || IsSeparator(l_folder[l_at])) {
            l_names.push_back(l_folder.substr(l_start, l_at - l_start));
            l_start = l_at + 1;
        }
    }
    return l_names;
}

QString LocalName(std::string i_remoteName)
{
    i_remoteName.erase(std::remove(i_remoteName.begin(), i_remoteName.end(), '\0'), i_remoteName.end());
    if (i_remoteName.empty() || i_remoteName == "." || i_remoteName == "..")
        return QStringLiteral("_");
    return QString::fromUtf8(i_remoteName.data(), static_cast<qsizetype>(i_remoteName.size()));
}

QString LocalFileName(const std::string& i_remoteFileName)
{
    const std::vector<std::string> l_names = RemoteNames(i_remoteFileName);
    return LocalName(l_names.empty() ? std::string() : l_names.back());
}

int EffectiveLevel(int i_level, int i_names)
{
    return std::clamp(i_level, 0, std::max(i_names - 1, 0));
}

QStringList CarriedNames(const std::string& i_remoteFolder, int i_level)
{
    const std::vector<std::string> l_names = RemoteNames(i_remoteFolder);
    const int l_count = static_cast<int>(l_names.size());
    QStringList l_carried;
    if (l_count == 0)
        return l_carried;
    for (int l_index = l_count - 1 - EffectiveLevel(i_level, l_count); l_index < l_count; ++l_index)
        l_carried.append(LocalName(l_names[static_cast<std::size_t>(l_index)]));
    return l_carried;
}

bool IsInside(const QString& i_base, const QString& i_path)
{
    QString l_base = QDir::cleanPath(i_base);
    if (!l_base.endsWith(QLatin1Char('/')))
        l_base += QLatin1Char('/');
    const QString l_path = QDir::cleanPath(i_path);
    return l_path.size() > l_base.size() && l_path.startsWith(l_base);
}

Target Resolve(const QString& i_root, const std::string& i_remoteFolder, const std::string& i_remoteFileName,
               int i_level, bool i_complete)
{
    Target l_target;
    l_target.m_base = QDir::cleanPath(i_root + QLatin1Char('/')
                                      + QLatin1String(i_complete ? CompleteFolderName : PartialFolderName));
    l_target.m_level = EffectiveLevel(i_level, static_cast<int>(RemoteNames(i_remoteFolder).size()));
    const QStringList l_carried = CarriedNames(i_remoteFolder, i_level);
    const QString l_folder = l_carried.isEmpty() ? l_target.m_base : l_target.m_base + QLatin1Char('/') + l_carried.join('/');
    const QString l_path = l_folder + QLatin1Char('/') + LocalFileName(i_remoteFileName);
    if ((l_carried.isEmpty() || IsInside(l_target.m_base, l_folder)) && IsInside(l_target.m_base, l_path)) {
        l_target.m_folder = l_folder;
        l_target.m_path = l_path;
    }
    return l_target;
}

Target OfDownload(ItemPtr i_download, bool i_complete)
{
    return Resolve(Root(), i_download["remote_folder"].AsString(), i_download["file_name"].AsString(),
                   i_download["subfolder_save_level"].AsInt(), i_complete);
}

QString NumberedPath(const QString& i_path, int i_number)
{
    const QFileInfo l_info(i_path);
    const QString l_name = l_info.fileName();
    const qsizetype l_dot = l_name.lastIndexOf(QLatin1Char('.'));
    const QString l_stem = l_dot > 0 ? l_name.left(l_dot) : l_name;
    const QString l_extension = l_dot > 0 ? l_name.mid(l_dot) : QString();
    return l_info.path() + QLatin1Char('/') + QString("%1 (%2)%3").arg(l_stem).arg(i_number).arg(l_extension);
}
}  // namespace DownloadLayout
