#pragma once

#include "core/store/Data.h"

#include <QDateTime>
#include <QtGlobal>

#include <initializer_list>
#include <utility>

// The objects of a running transfer kept as items of its entry. The live
// figures (positions, speeds, byte counts, times) are heap cells whose
// address is the value of an attribute item; they change in place, so
// progress raises no store event. Removing a figure's item frees its cell
// (the manager's removal handlers), whoever removes it: a release below or
// the store's collection of unreachable items. The socket, file and thread
// are released by the operations that stop a transfer.
namespace TransferFigures
{
using Position = qint64;  // "write_position", "read_position"
using Speed = qint32;     // "bytes_per_second"
using ByteCount = qint64; // "bytes_since_last_receipt", "bytes_uploaded"
using Time = QDateTime;   // "last_receipt_time", "last_speed_measurement_time"

// Every type whose items are such cells.
inline constexpr const char* CellTypes[] = {"write_position", "read_position", "last_receipt_time",
                                            "last_speed_measurement_time", "bytes_per_second",
                                            "bytes_since_last_receipt", "bytes_uploaded"};

// Gives the entry a new cell under the type (replacing its former one, which
// the collection then frees) and returns the cell.
template <class T>
T* Attach(ItemPtr i_entry, const char* ip_type, T i_initial)
{
    T* lp_cell = new T(std::move(i_initial));
    i_entry += d.GetType(ip_type)->GetItem(Value(lp_cell));
    return lp_cell;
}

// The entry's cell of that type, or null.
template <class T>
T* Of(ItemPtr i_entry, const char* ip_type)
{
    return i_entry[ip_type].AsObject<T>();
}

// What one kind of transfer holds while it runs.
struct Resources
{
    const char* mp_socketType;
    const char* mp_fileType;
    std::initializer_list<const char*> m_figureTypes;
};
extern const Resources DownloadResources;
extern const Resources UploadResources;

// Records a progress report in the entry's figures: the position (of the
// type given), the speed and the time of receipt. Figures the entry lacks
// are passed over.
void RecordProgress(ItemPtr i_entry, const char* ip_positionType, qint64 i_offset, int i_bytesPerSecond);

// Lets go of what a transfer that stopped still holds, in this order: its
// file (closed and deleted), its file connection (every signal connection
// broken, closed and handed to the event loop for deletion) and its figures.
// The transfer's thread must have ended before.
void Release(ItemPtr i_entry, const Resources& i_resources);
}  // namespace TransferFigures
