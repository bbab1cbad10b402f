#pragma once

#include "core/store/Item.h"

#include <QString>
#include <QStringList>

#include <string>
#include <vector>

// Where downloads live on disk. Under one root (the setting
// "download_folder") a download has a partial file below "downloading" and,
// once finished, its file below "complete"; below either, it keeps the last
// one or more folder names of the folder in which the peer shares the file,
// so that downloads from one remote folder land together.
//
// Remote names never reach outside those folders: the folder is split into
// its names at every "\" and "/", NUL bytes are dropped from each name, and
// a name that is then "", "." or ".." becomes "_"; the file's own name is
// only its last component, made safe the same way. Every result is checked
// to lie inside its folder; one that does not is no target at all. Local
// paths use "/".
namespace DownloadLayout
{
inline constexpr char PartialFolderName[] = "downloading";
inline constexpr char CompleteFolderName[] = "complete";

// The root: the setting's text, or the platform's default folder when the
// setting is empty.
QString Root();

// The names of a remote folder as the peer wrote them: one trailing
// separator is dropped, then the text is split at every "\" and "/". An
// empty folder has no names.
std::vector<std::string> RemoteNames(const std::string& i_remoteFolder);
// One remote name as one local name.
QString LocalName(std::string i_remoteName);
// The local file name of a remote file name: its last component.
QString LocalFileName(const std::string& i_remoteFileName);
// How many names besides the last one are carried, for a folder of
// i_names names: a negative level counts as 0, and no level takes more
// names than the folder has.
int EffectiveLevel(int i_level, int i_names);
// The local names carried below the partial and complete folders: the last
// EffectiveLevel + 1 names of the remote folder, in their order there.
QStringList CarriedNames(const std::string& i_remoteFolder, int i_level);

// True when the path lies strictly inside the base folder, compared after
// both are cleaned of ".", ".." and doubled separators.
bool IsInside(const QString& i_base, const QString& i_path);

// One side (partial or complete) of one download.
struct Target
{
    QString m_base;    // root + "/downloading" or "/complete"
    QString m_folder;  // the base + the carried names
    QString m_path;    // the folder + the local file name
    int m_level = 0;   // the effective level
    // False when the names could not be placed inside the base: then the
    // folder and path are empty, and nothing may be written.
    bool IsValid() const { return !m_path.isEmpty(); }
};
Target Resolve(const QString& i_root, const std::string& i_remoteFolder, const std::string& i_remoteFileName,
               int i_level, bool i_complete);
// The same for a "download_entry", under the current root.
Target OfDownload(ItemPtr i_download, bool i_complete);

// How many numbered names a file may try beside a taken one.
inline constexpr int MaxFreeNameTries = 1000;
// "folder/name (n).ext" for a path "folder/name.ext"; the extension is what
// follows the last dot, unless the name starts with it.
QString NumberedPath(const QString& i_path, int i_number);
}  // namespace DownloadLayout
