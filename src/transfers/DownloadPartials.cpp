#include "transfers/DownloadPartials.h"

#include "core/store/Data.h"

#include <QDir>
#include <QFileInfo>

namespace
{
constexpr char RecordType[] = "partial_path";
constexpr char UnrecordedFlag[] = "partial_unrecorded";

ItemPtr Flag()
{
    return d.GetType(UnrecordedFlag)->GetGlobalNullItem();
}

bool IsRecordedByAnother(ItemPtr i_download, const QString& i_path)
{
    ItemPtr l_record = d.GetType(RecordType)->HasItem(i_path.toStdString());
    for (ItemPtr l_holder : l_record.GetItems("download_entry")) {
        if (l_holder != i_download)
            return true;
    }
    return false;
}

// Another download loaded without a record whose partial path is the same:
// which of the two wrote the file there cannot be told. Downloads of
// another remote file name have other partial paths.
bool IsSharedWithUnrecorded(ItemPtr i_download, const QString& i_path)
{
    for (ItemPtr l_other : i_download["file_name"].GetItems("download_entry").Connected(Flag())) {
        if (l_other != i_download && QDir::cleanPath(DownloadLayout::OfDownload(l_other, false).m_path) == i_path)
            return true;
    }
    return false;
}

// A download from an older data file may take the file at its own partial
// path: it is probably the one it wrote.
bool TakesUnrecorded(ItemPtr i_download, const QString& i_own)
{
    return i_download.IsConnected(UnrecordedFlag) && QFileInfo::exists(i_own)
           && !IsRecordedByAnother(i_download, i_own) && !IsSharedWithUnrecorded(i_download, i_own);
}

bool IsNonEmptyFile(const QString& i_path)
{
    const QFileInfo l_info(i_path);
    return l_info.isFile() && l_info.size() > 0;
}

QString Record(ItemPtr i_download, const QString& i_path)
{
    i_download += d.GetType(RecordType)->GetItem(i_path.toStdString());
    return i_path;
}
}  // namespace

namespace DownloadPartials
{
QString Claim(ItemPtr i_download, const DownloadLayout::Target& i_target)
{
    if (!i_target.IsValid())
        return QString();
    const std::string l_recordedText = i_download[RecordType].AsString();
    const QString l_recorded = l_recordedText.empty() ? QString() : QDir::cleanPath(QString::fromStdString(l_recordedText));
    // A partial under another download folder stays there: a changed folder
    // starts a new partial file.
    if (!l_recorded.isEmpty() && QFileInfo(l_recorded).path() == QDir::cleanPath(i_target.m_folder)
        && !IsRecordedByAnother(i_download, l_recorded))
        return l_recorded;

    const QString l_own = QDir::cleanPath(i_target.m_path);
    if (l_recorded.isEmpty() && TakesUnrecorded(i_download, l_own))
        return Record(i_download, l_own);
    // A file that is there already, or a path another download holds, is
    // never continued: it may be of another file.
    for (int l_try = 0; l_try <= DownloadLayout::MaxFreeNameTries; ++l_try) {
        const QString l_candidate = l_try == 0 ? l_own : DownloadLayout::NumberedPath(l_own, l_try);
        if (!QFileInfo::exists(l_candidate) && !QFileInfo(l_candidate).isSymLink()
            && !IsRecordedByAnother(i_download, l_candidate))
            return Record(i_download, l_candidate);
    }
    return QString();
}

bool HasOwnBytes(ItemPtr i_download)
{
    const std::string l_recorded = i_download[RecordType].AsString();
    if (!l_recorded.empty())
        return IsNonEmptyFile(QString::fromStdString(l_recorded));
    const DownloadLayout::Target l_target = DownloadLayout::OfDownload(i_download, false);
    if (!l_target.IsValid())
        return false;
    const QString l_own = QDir::cleanPath(l_target.m_path);
    return TakesUnrecorded(i_download, l_own) && IsNonEmptyFile(l_own);
}

void Forget(ItemPtr i_download)
{
    i_download.Disconnect(RecordType);
}

void MarkUnrecorded(const ItemSet& i_loaded)
{
    const ItemPtr l_flag = Flag();
    for (ItemPtr l_download : i_loaded) {
        if (!l_download.IsConnected(RecordType))
            l_download += l_flag;
    }
}
}  // namespace DownloadPartials
