#include "ui/views/TransferKind.h"

#include "core/store/Data.h"
#include "core/util/GeneralFunctions.h"
#include "transfers/TransferFigures.h"

namespace
{
ItemPtr DownloadFolder(ItemPtr i_entry)
{
    return i_entry["remote_folder"];
}

ItemPtr UploadFolder(ItemPtr i_entry)
{
    return i_entry["shared_file"]["shared_file_folder"];
}

QString DownloadFileText(ItemPtr i_entry)
{
    return QString::fromUtf8(i_entry["file_name"].AsString());
}

QString UploadFileText(ItemPtr i_entry)
{
    return QString::fromUtf8(GetFileName(i_entry["shared_file"]["shared_file_name"].AsString()));
}

qint64 DownloadSize(ItemPtr i_entry)
{
    return i_entry["file_size"].AsInt64();
}

qint64 UploadSize(ItemPtr i_entry)
{
    return i_entry["shared_file"]["shared_file_size"].AsInt64();
}

// The words of the classes before Other; the active one is the kind's.
const char* ClassWord(const TransferKind& i_kind, TransferAggregates::StatusClass i_class)
{
    static const char* const sl_words[] = {nullptr, "queued", "complete", "denied", "aborted"};
    if (i_class == TransferAggregates::StatusClass::Active)
        return i_kind.mp_activeStatus;
    return sl_words[static_cast<std::size_t>(i_class)];
}

// How many members of the set hold the status (its value item is looked
// up, never made).
std::size_t CountWithStatus(const TransferKind& i_kind, const ItemSet& i_entries, const char* ip_status)
{
    const ItemPtr l_status = d.GetType(i_kind.mp_statusType)->HasItem(ip_status);
    if (l_status.IsNull())
        return 0;
    return i_entries.Connected(l_status).size();
}
}  // namespace

const TransferKind TransferKind::Download{"download_entry",    "download_entry_status",     "downloading",
                                          "write_position",    "download_list_user_node",   "download_list_folder_node",
                                          "download_list_node", &DownloadFolder,            &DownloadFileText,
                                          &DownloadSize};

const TransferKind TransferKind::Upload{"upload_entry",    "upload_entry_status",     "uploading",
                                        "read_position",   "upload_list_user_node",   "upload_list_folder_node",
                                        "upload_list_node", &UploadFolder,            &UploadFileText,
                                        &UploadSize};

namespace TransferAggregates
{
StatusClass ClassOf(const TransferKind& i_kind, const std::string& i_status)
{
    for (std::size_t l_class = 0; l_class < StatusClassCount - 1; ++l_class) {
        if (i_status == ClassWord(i_kind, StatusClass(l_class)))
            return StatusClass(l_class);
    }
    return StatusClass::Other;
}

void StatusCounts::Add(StatusClass i_class)
{
    ++m_byClass[static_cast<std::size_t>(i_class)];
    ++m_entries;
}

void StatusCounts::Take(StatusClass i_class)
{
    --m_byClass[static_cast<std::size_t>(i_class)];
    --m_entries;
}

std::string Status(const TransferKind& i_kind, const StatusCounts& i_counts)
{
    if (i_counts.Of(StatusClass::Active))
        return i_kind.mp_activeStatus;
    if (i_counts.Of(StatusClass::Queued))
        return "queued";
    if (i_counts.Of(StatusClass::Complete) == i_counts.m_entries)
        return "complete";
    if (i_counts.Of(StatusClass::Denied))
        return "denied";
    if (i_counts.Of(StatusClass::Aborted))
        return "aborted";
    return {};
}

std::string Status(const TransferKind& i_kind, const ItemSet& i_entries)
{
    StatusCounts l_counts;
    l_counts.m_entries = i_entries.size();
    for (std::size_t l_class = 0; l_class < StatusClassCount - 1; ++l_class)
        l_counts.m_byClass[l_class] = CountWithStatus(i_kind, i_entries, ClassWord(i_kind, StatusClass(l_class)));
    return Status(i_kind, l_counts);
}

void Progress(const TransferKind& i_kind, const ItemSet& i_entries, qint64& o_done, qint64& o_left, qint64& o_total)
{
    o_done = o_left = o_total = 0;
    for (Item* lp_entry : i_entries) {
        const ItemPtr l_entry(lp_entry);
        const std::string l_status = l_entry[i_kind.mp_statusType].AsString();
        const qint64 l_size = i_kind.mp_size(l_entry);
        if (l_status == "complete") {
            o_done += l_size;
            o_total += l_size;
        } else if (l_status == "aborted" || l_status == "queued" || l_status == i_kind.mp_activeStatus) {
            const auto* lp_position = TransferFigures::Of<TransferFigures::Position>(l_entry, i_kind.mp_positionType);
            const qint64 l_position = lp_position ? *lp_position : 0;
            o_done += l_position;
            o_left += l_size - l_position;
            o_total += l_size;
        }
    }
}

qint64 Speed(const TransferKind& i_kind, const ItemSet& i_entries)
{
    qint64 l_speed = 0;
    for (Item* lp_entry : i_entries) {
        const ItemPtr l_entry(lp_entry);
        if (l_entry[i_kind.mp_statusType].AsString() != i_kind.mp_activeStatus)
            continue;
        if (const auto* lp_speed = TransferFigures::Of<TransferFigures::Speed>(l_entry, "bytes_per_second"))
            l_speed += *lp_speed;
    }
    return l_speed;
}
}  // namespace TransferAggregates
