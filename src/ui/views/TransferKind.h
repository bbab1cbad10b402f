#pragma once

#include "core/store/Item.h"

#include <QString>
#include <QtGlobal>

#include <array>
#include <cstddef>
#include <string>

// What differs between a download and an upload as the transfers view shows
// them: the types of the entry and of its rows, the status word of a running
// transfer, where its position lies, and how its folder, file name and size
// are read. Everything else the view does the same way on both trees.
struct TransferKind
{
    const char* mp_entryType;
    const char* mp_statusType;
    // The status of a transfer that moves data.
    const char* mp_activeStatus;
    const char* mp_positionType;
    const char* mp_userNodeType;
    const char* mp_folderNodeType;
    const char* mp_fileNodeType;
    // The item a folder row stands for (with the user), or null.
    ItemPtr (*mp_folderKey)(ItemPtr i_entry);
    // The "File" text.
    QString (*mp_fileText)(ItemPtr i_entry);
    // The size in bytes.
    qint64 (*mp_size)(ItemPtr i_entry);

    static const TransferKind Download;
    static const TransferKind Upload;
};

namespace TransferAggregates
{
// The statuses the aggregate tells apart; every other status, and none, is
// Other.
enum class StatusClass { Active, Queued, Complete, Denied, Aborted, Other };
constexpr std::size_t StatusClassCount = 6;

StatusClass ClassOf(const TransferKind& i_kind, const std::string& i_status);

// How many entries of a set there are, and how many of them hold each class
// of status.
struct StatusCounts
{
    std::array<std::size_t, StatusClassCount> m_byClass{};
    std::size_t m_entries = 0;

    std::size_t Of(StatusClass i_class) const { return m_byClass[static_cast<std::size_t>(i_class)]; }
    // One entry of the class more, or one fewer.
    void Add(StatusClass i_class);
    void Take(StatusClass i_class);
};

// The status word that stands for a set of entries: the active word when
// one is active, else "queued" when one is queued, else "complete" when all
// are (an empty set too), else "denied", else "aborted", else "".
std::string Status(const TransferKind& i_kind, const StatusCounts& i_counts);
// The same, counted afresh from the store.
std::string Status(const TransferKind& i_kind, const ItemSet& i_entries);

// Sums over the set: complete entries count whole; queued, aborted and
// active ones by their position (0 without one); others not at all.
void Progress(const TransferKind& i_kind, const ItemSet& i_entries, qint64& o_done, qint64& o_left, qint64& o_total);
// The speeds of the set's active entries added up, in bytes a second (an
// entry without a speed figure counts 0).
qint64 Speed(const TransferKind& i_kind, const ItemSet& i_entries);
}  // namespace TransferAggregates
