// The shares service: its item types, relations and saving rules, its
// connections to the other services, and the server's statistics.
#include "shares/SharedFoldersManager.h"

#include "core/persist/DataSaver.h"
#include "core/persist/Settings.h"
#include "core/util/GeneralFunctions.h"
#include "dnet/DNetManager.h"
#include "peer/PeerMessenger.h"
#include "server/Server.h"
#include "shares/SearchTokens.h"

SharedFoldersManager* sharedFoldersManager = nullptr;

namespace
{
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

    m_MP3ScanThread.start();
    m_MP3Scanner.moveToThread(&m_MP3ScanThread);
    connect(this, &SharedFoldersManager::MP3ScanRequired, &m_MP3Scanner, &MP3Scanner::OnMP3ScanRequired);
    connect(&m_MP3Scanner, &MP3Scanner::MP3Scanned, this, &SharedFoldersManager::OnMP3Scanned);
    connect(gp_server, &Server::Connected, this, &SharedFoldersManager::OnConnectedToServer);
    connect(gp_server, &Server::ReceivedUserStats, this, &SharedFoldersManager::OnReceivedUserStats);

    WatchListedItems();

    Declare("unshared", false, true);
    Relate("user", "unshared", One, Many);
    SaveWhole("unshared");
    SaveWith("user", "unshared");

    // The disk walker: its own thread, its own object deleted there.
    mp_walker = new ShareWalker;
    mp_walker->moveToThread(&m_walkThread);
    connect(&m_walkThread, &QThread::finished, mp_walker, &QObject::deleteLater);
    connect(this, &SharedFoldersManager::WalkRequested, mp_walker, &ShareWalker::Walk);
    connect(mp_walker, &ShareWalker::Walked, this, &SharedFoldersManager::OnWalked);
    m_walkThread.start();

    m_sendMessage = [](const std::string& i_user, MemStream& i_body) {
        if (peerMessenger)
            peerMessenger->SendMessage(i_user, i_body);
    };
}

SharedFoldersManager::~SharedFoldersManager()
{
    // The scanner checks its flag at every block, so even a scan of a huge
    // file ends at once; requests still queued are never run.
    m_MP3Scanner.Quit();
    m_MP3ScanThread.quit();
    m_MP3ScanThread.wait();

    // The walker checks its flag at every folder, so even a walk of a huge
    // tree ends at once.
    mp_walker->Stop();
    m_walkThread.quit();
    m_walkThread.wait();

    if (sharedFoldersManager == this)
        sharedFoldersManager = nullptr;
    if (sharedFoldersService == this)
        sharedFoldersService = nullptr;
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
    const int l_files = static_cast<int>(d.GetType("shared_file")->ItemCount());
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
