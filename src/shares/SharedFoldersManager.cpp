// The shares service: its item types, relations and saving rules, its
// connections to the other services, and the server's statistics.
#include "shares/SharedFoldersManager.h"

#include "core/log/Log.h"
#include "core/persist/DataSaver.h"
#include "core/persist/Settings.h"
#include "core/util/GeneralFunctions.h"
#include "dnet/DNetManager.h"
#include "peer/PeerMessenger.h"
#include "server/Server.h"
#include "shares/SearchTokens.h"

#include <QDeadlineTimer>

#include <algorithm>
#include <vector>

SharedFoldersManager* sharedFoldersManager = nullptr;

namespace
{
// Workers let go at shut-down, with their threads, kept where the process
// can still reach them until it ends (so that no leak checker takes them
// for lost either).
void LetGo(QObject* ip_worker, QThread* ip_thread)
{
    static auto* lp_letGo = new std::vector<QObject*>;
    lp_letGo->push_back(ip_worker);
    lp_letGo->push_back(ip_thread);
}

Type* Declare(const char* ip_name, bool i_primary, bool i_null)
{
    return d.NewType(ip_name, i_primary, i_null, true);
}

// An A item holds i_aHolds B items; a B item holds i_bHolds A items.
void Relate(const char* ip_a, const char* ip_b, OneOrMany i_aHolds, OneOrMany i_bHolds)
{
    d.GetType(ip_a)->RelateToType(d.GetType(ip_b), i_bHolds, i_aHolds, false);
}

void SaveWhole(const char* ip_type)
{
    dataSaver->AddSavedType(ip_type);
}

void SaveWith(const char* ip_type, const char* ip_owner)
{
    dataSaver->AddSavedByConnectionType(ip_type, ip_owner);
}
}  // namespace

SharedFoldersManager::SharedFoldersManager(QObject* ip_parent) : QObject(ip_parent)
{
    sharedFoldersManager = this;
    sharedFoldersService = this;
    qRegisterMetaType<WalkBatchPtr>();

    DeclareIndexTypes();
    DeclareListingTypes();
    mp_receivedListings = std::make_unique<ReceivedListings>();

    connect(peerMessenger, &PeerMessenger::UserShare, this, &SharedFoldersManager::OnUserShare);
    connect(peerMessenger, &PeerMessenger::SharedFilesInFolderRequested, this,
            &SharedFoldersManager::OnFilesInFoldersRequested);

    Declare("search_token", false, false);
    Relate("search_token", "shared_file", Many, Many);
    connect(dnetManager, &DNetManager::DNetSearchRequest, this, &SharedFoldersManager::OnDNetSearchRequest);

    for (const char* lp_attribute : {"mpeg_version", "channel_mode", "audio_frequency", "bitrate_mode", "bitrate"})
        Relate("shared_file", lp_attribute, One, Many);
    Declare("is_scanned", false, true);
    Relate("shared_file", "is_scanned", One, Many);
    SaveWhole("is_scanned");
    SaveWith("shared_file", "shared_file_folder");
    SaveWith("shared_file_folder", "shared_folder");
    SaveWith("shared_file_name", "shared_file");
    SaveWith("shared_file_size", "shared_file");
    for (const char* lp_attribute : {"mpeg_version", "channel_mode", "audio_frequency", "bitrate_mode", "bitrate"})
        SaveWith(lp_attribute, "shared_file");

    for (const char* lp_attribute : {"bitrate_mode", "bitrate", "length_seconds"})
        Relate("user_share_file", lp_attribute, One, Many);

    mp_MP3ScanThread = new QThread;
    mp_MP3Scanner = new MP3Scanner;
    mp_MP3ScanThread->start();
    mp_MP3Scanner->moveToThread(mp_MP3ScanThread);
    connect(this, &SharedFoldersManager::MP3ScanRequired, mp_MP3Scanner, &MP3Scanner::OnMP3ScanRequired);
    connect(mp_MP3Scanner, &MP3Scanner::MP3Scanned, this, &SharedFoldersManager::OnMP3Scanned);
    connect(gp_server, &Server::Connected, this, &SharedFoldersManager::OnConnectedToServer);
    connect(gp_server, &Server::ReceivedUserStats, this, &SharedFoldersManager::OnReceivedUserStats);

    WatchListedItems();

    Declare("unshared", false, true);
    Relate("user", "unshared", One, Many);
    SaveWhole("unshared");
    SaveWith("user", "unshared");

    // The disk walker: its own thread, its own object deleted there.
    mp_walkThread = new QThread;
    mp_walker = new ShareWalker;
    mp_walker->moveToThread(mp_walkThread);
    connect(this, &SharedFoldersManager::WalkRequested, mp_walker, &ShareWalker::Walk);
    connect(mp_walker, &ShareWalker::Walked, this, &SharedFoldersManager::OnWalked);
    mp_walkThread->start();

    m_sendMessage = [](const std::string& i_user, MemStream& i_body) {
        if (peerMessenger)
            peerMessenger->SendMessage(i_user, i_body);
    };
}

SharedFoldersManager::~SharedFoldersManager()
{
    // Both are told to stop first, then waited for together, a bounded
    // time: the scanner checks its flag at every block and the walker at
    // every entry, but a read of a hung network mount (or of a FIFO put
    // where a file was) may never return. The process is ending: what still
    // runs then is let go, with its thread, and left to the process's end.
    // A running QThread must not be destroyed, and nothing either touches
    // belongs to this object, so nothing is freed under them.
    mp_MP3Scanner->Quit();
    mp_MP3ScanThread->quit();
    mp_walker->Stop();
    mp_walkThread->quit();
    QElapsedTimer l_clock;
    l_clock.start();
    if (StopThread(mp_MP3ScanThread, l_clock)) {
        delete mp_MP3Scanner;
        delete mp_MP3ScanThread;
    } else {
        // Results it might still send have no receiver once this is gone.
        disconnect(mp_MP3Scanner, nullptr, this, nullptr);
        Log("MP3 Scanning", 1,
            QString("The MP3 scanner did not stop within %1 ms; it is left running until the process ends")
                .arg(ShutDownWaitMs));
        LetGo(mp_MP3Scanner, mp_MP3ScanThread);
    }
    if (StopThread(mp_walkThread, l_clock)) {
        delete mp_walker;
        delete mp_walkThread;
    } else {
        disconnect(mp_walker, nullptr, this, nullptr);
        Log("Shared", 1,
            QString("The share walker did not stop within %1 ms; it is left running until the process ends")
                .arg(ShutDownWaitMs));
        LetGo(mp_walker, mp_walkThread);
    }
    mp_MP3Scanner = nullptr;
    mp_MP3ScanThread = nullptr;
    mp_walker = nullptr;
    mp_walkThread = nullptr;

    if (sharedFoldersManager == this)
        sharedFoldersManager = nullptr;
    if (sharedFoldersService == this)
        sharedFoldersService = nullptr;
}

bool SharedFoldersManager::StopThread(QThread* ip_thread, const QElapsedTimer& i_clock)
{
    const qint64 l_left = std::max<qint64>(0, ShutDownWaitMs - i_clock.elapsed());
    return ip_thread->wait(QDeadlineTimer(l_left));
}

void SharedFoldersManager::DeclareIndexTypes()
{
    Declare("shared_folder", true, false);
    SaveWhole("shared_folder");
    Declare("shared_file", false, true);
    Declare("shared_file_name", false, false);
    Declare("shared_file_lowercase_name", false, false);
    Declare("shared_file_folder", false, false);
    Declare("shared_file_folder_lowercase_name", false, false);
    Declare("shared_file_size", false, false);
    Declare("shared_public", false, true);
    Declare("shared_userlist", false, true);

    Relate("shared_folder", "shared_file_folder", Many, Many);
    Relate("shared_file", "shared_file_folder", One, Many);
    Relate("shared_file_folder", "shared_file_folder_lowercase_name", One, Many);
    Relate("shared_file", "shared_file_name", One, Many);
    Relate("shared_file_name", "shared_file_lowercase_name", One, Many);
    Relate("shared_file", "shared_file_size", One, Many);
    Relate("shared_folder", "shared_public", One, Many);
    Relate("shared_folder", "shared_userlist", One, Many);
    Relate("shared_folder", "user_list_group", Many, Many);
    SaveWith("shared_public", "shared_folder");
    SaveWith("shared_userlist", "shared_folder");

    d.GetType("shared_file_name")->ItemAddedEvent.m_handlerSet.insert(MakeHandler(&SharedFoldersManager::OnSharedFileNameAdded));
    d.GetType("shared_file_folder")->ItemAddedEvent.m_handlerSet.insert(MakeHandler(&SharedFoldersManager::OnSharedFileFolderAdded));
    d.GetType("shared_folder")->ItemRemovedEvent.m_handlerSet.insert(MakeHandler(&SharedFoldersManager::OnSharedFolderRemoved));
    d.GetType("shared_file")->ItemsDisconnectedEvent.m_handlerSet.insert(
        MakeHandler(&SharedFoldersManager::OnSharedFileDisconnected));
}

void SharedFoldersManager::DeclareListingTypes()
{
    Declare("user_share", true, true);
    Declare("user_share_loaded", false, true);
    Declare("user_share_folder", false, true);
    Declare("user_share_folder_parent", false, true);
    Declare("user_share_folder_child", false, true);
    Declare("user_share_folder_name", false, false);
    Declare("user_share_file", false, true);
    Declare("user_share_file_name", false, false);
    Declare("user_share_file_size", false, false);

    Relate("user_share", "user", One, One);
    Relate("user_share", "user_share_loaded", One, Many);
    Relate("user_share", "user_share_folder", Many, One);
    Relate("user_share_folder", "user_share_folder_name", One, Many);
    Relate("user_share_folder", "user_share_file", Many, One);
    Relate("user_share_folder", "user_share_folder_parent", One, One);
    Relate("user_share_folder", "user_share_folder_child", Many, One);
    Relate("user_share_folder_parent", "user_share_folder_child", One, One);
    Relate("user_share_file", "user_share_file_name", One, Many);
    Relate("user_share_file", "user_share_file_size", One, Many);
}

void SharedFoldersManager::OnSharedFileNameAdded(Item* ip_fileName)
{
    ItemPtr(ip_fileName) += d.GetType("shared_file_lowercase_name")->GetItem(GetAbsoluteFileName(ip_fileName->m_value));
}

void SharedFoldersManager::OnSharedFileFolderAdded(Item* ip_folderName)
{
    ItemPtr(ip_folderName) +=
        d.GetType("shared_file_folder_lowercase_name")->GetItem(GetAbsoluteFileName(ip_folderName->m_value));
}

bool SharedFoldersManager::IsSearchTokenSeparator(unsigned char i_char)
{
    return SearchTokens::IsSeparator(i_char);
}

void SharedFoldersManager::OnConnectedToServer()
{
    // The whole index, whatever anyone may see of it.
    const int l_folders = static_cast<int>(d.GetType("shared_file_folder")->ItemCount());
    const int l_files = IndexedFileCount();
    gp_server->SendFilesFolders(l_folders, l_files);
    gp_server->GetUserStats(Settings::Get("username"));
}

void SharedFoldersManager::OnReceivedUserStats(std::string i_user, UserStats i_stats)
{
    if (i_user != Settings::Get("username"))
        return;
    Settings::Set("upload_speed", ToString(i_stats.m_averageDownloadSpeed));
}

void SharedFoldersManager::OnDNetSearchRequest(std::string i_user, quint32 i_req, std::string i_searchText)
{
    ProcessSearch(std::move(i_user), i_req, std::move(i_searchText));
}
