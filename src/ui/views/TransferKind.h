#pragma once

#include "core/store/Item.h"

#include <QString>
#include <QtGlobal>

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
// The status word that stands for a set of entries: the active word when
// one is active, else "queued" when one is queued, else "complete" when all
// are (an empty set too), else "denied", else "aborted", else "".
std::string Status(const TransferKind& i_kind, const ItemSet& i_entries);

// Sums over the set: complete entries count whole; queued, aborted and
// active ones by their position (0 without one); others not at all.
void Progress(const TransferKind& i_kind, const ItemSet& i_entries, qint64& o_done, qint64& o_left, qint64& o_total);
}  // namespace TransferAggregates
