#pragma once

#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

class Type;

namespace DataFile {
struct Contents;
}

// An object that must act once the client data file has been loaded. It
// registers by inserting itself into the data saver's set before the load;
// DataLoaded runs once per run, also when there is no file and after a load
// that failed.
class DataLoadedEventHandler
{
public:
    virtual ~DataLoadedEventHandler() = default;
    virtual void DataLoaded() = 0;
};

// Thrown by value when the data file exists but cannot be read whole.
struct DataLoadFailure
{
    std::string m_reason;
};

// Thrown by value by the low-level writer; Save catches and logs it.
struct DataSaveFailure
{
    std::string m_reason;
};

// Writes the saved part of the item store to the client data file and reads
// it back. Only the types registered here are read back: a damaged or altered
// file must not make items of other types, whose values may stand for
// objects of this run (sockets, timers).
//
// A file that failed to load is not lost to the next save: that save first
// renames it to "<file>.damaged" (replacing an older one), and does not go
// ahead when it cannot.
//
// Constructing a saver makes the process ignore SIGXFSZ, so that a save past
// a file-size limit fails like any other instead of killing the program.
class DataSaver
{
public:
    DataSaver();
    ~DataSaver();
    DataSaver(const DataSaver&) = delete;
    DataSaver& operator=(const DataSaver&) = delete;

    // Every item of the type is saved, with its connections to other saved
    // items. Unknown names throw TypeNotFoundException*.
    void AddSavedType(const std::string& i_typeName);
    // Items of the saved type are saved while connected to a saved item of
    // the owner type (one saved type may have several owners).
    void AddSavedByConnectionType(const std::string& i_savedTypeName, const std::string& i_ownerTypeName);

    // Recreates the file's items of the registered types and their
    // connections (events fire as usual); items of other types are skipped
    // and logged. Then runs every data-loaded handler once. A missing file
    // is no failure. A damaged file changes nothing in the store and throws
    // DataLoadFailure after the handlers have run.
    void Load(const char* ip_path);
    // Writes a temporary file next to the path, flushes it to disk, then
    // renames it over the path. A failure keeps the old file and is logged.
    void Save(const char* ip_path);
    // The same, but this thread only takes a snapshot of the store (a forked
    // child process; where none can be had, the file's bytes); building,
    // writing, flushing and renaming run elsewhere. A later Save, Load or
    // save in the background, and the saver's destruction, wait for it.
    void SaveInBackground(const char* ip_path);
    void WaitForPendingSave();

    bool IsLoaded() const { return m_loaded; }
    void EmitDataLoaded();

    std::set<DataLoadedEventHandler*> m_dataLoadedEventHandlers;

private:
    std::vector<char> Serialize() const;
    void Apply(const DataFile::Contents& i_contents);
    bool IsLoadedType(const Type* ip_type) const;
    // False when the file that failed to load is still in the way of a save.
    bool KeepDamagedFile();

    std::vector<Type*> m_savedTypes;
    std::vector<std::pair<Type*, Type*>> m_savedByConnection;  // (saved, owner)
    bool m_loaded = false;
    // The file of a failed load, until a save has moved it aside.
    std::string m_damagedPath;
    std::thread m_pendingSave;
};

extern DataSaver* dataSaver;
