#include "shares/ReceivedListings.h"

#include "core/util/GeneralFunctions.h"

#include <QElapsedTimer>
#include <QTimer>

#include <limits>
#include <set>
#include <unordered_map>
#include <utility>
#include <vector>

namespace
{
void ConnectAttributes(ItemPtr i_file, const AttributeMap& i_attributes)
{
    // One item of each kind per file: a repeated code replaces the earlier value.
    for (const auto& [l_code, l_value] : i_attributes.m_map) {
        switch (l_code) {
        case 0: i_file += d.GetType("bitrate")->GetItem(l_value); break;
        case 1: i_file += d.GetType("length_seconds")->GetItem(l_value); break;
        case 2: i_file += d.GetType("bitrate_mode")->GetItem(l_value != 0 ? "vbr" : "cbr"); break;
        default: break;
        }
    }
}

constexpr std::size_t AllPartners = std::numeric_limits<std::size_t>::max();

// Up to i_most partners of the type, to be removed: a removal changes the
// set, so they are taken out of it first.
std::vector<Item*> SomePartners(const Item* ip_item, const Type* ip_type, std::size_t i_most)
{
    std::vector<Item*> l_partners;
    if (const PartnerSet* lp_set = ip_item->Partners(ip_type)) {
        lp_set->AnyOf([&](Item* ip_partner) {
            l_partners.push_back(ip_partner);
            return l_partners.size() == i_most;
        });
    }
    return l_partners;
}
}  // namespace

// A listing waiting to be stored, or being stored: its user's name, its
// "user_share" item (null until its storing begins), and where storing
// stands. The folders are taken out of m_folders as they are done.
struct ReceivedListings::Job
{
    std::string m_user;
    Item* mp_listing = nullptr;
    // A newer listing of the user arrived, or someone removed this one.
    bool m_dead = false;
    FileInfoMap m_folders;
    std::set<FileInfo>::const_iterator m_file;
    // The folder whose files are being stored; null between folders.
    Item* mp_folder = nullptr;
    // This listing's folders by name. The map is ordered by name and a name
    // sorts after each of its prefixes, so a parent is always here before
    // its children.
    std::unordered_map<std::string, Item*> m_byName;
    // Every file is in: the listing is marked complete next.
    bool m_stored = false;
};

ReceivedListings::ReceivedListings()
    : mp_listingType(d.GetType("user_share")),
      mp_folderType(d.GetType("user_share_folder")),
      mp_fileType(d.GetType("user_share_file")),
      mp_parentLinkType(d.GetType("user_share_folder_parent")),
      mp_childLinkType(d.GetType("user_share_folder_child")),
      mp_folderNameType(d.GetType("user_share_folder_name")),
      mp_fileNameType(d.GetType("user_share_file_name")),
      mp_sizeType(d.GetType("user_share_file_size"))
{
    mp_listingType->ItemRemovedEvent.m_handlerSet.insert(MakeHandler(&ReceivedListings::OnListingRemoved));
}

// What is still waiting stays in the store: only primary listing items
// hold it, and the store goes at the program's end.
ReceivedListings::~ReceivedListings() = default;

void ReceivedListings::Receive(const std::string& i_user, FileInfoMap& io_listing)
{
    // Whatever of an older listing of the user is not stored yet never will
    // be; what is stored goes when this one begins.
    for (const std::unique_ptr<Job>& lp_job : m_jobs) {
        if (lp_job->m_user == i_user)
            lp_job->m_dead = true;
    }
    auto lp_job = std::make_unique<Job>();
    lp_job->m_user = i_user;
    lp_job->m_folders = std::move(io_listing);
    io_listing.clear();
    lp_job->m_byName.reserve(lp_job->m_folders.size());
    m_jobs.push_back(std::move(lp_job));
    Schedule();
}

// The listing item goes now, while its tree is whole, so that a page that
// shows it sees it go and lets go of its rows; a new listing item that no
// user has takes over its folders until they are removed.
void ReceivedListings::LetGo(Item* ip_listing)
{
    const ItemSet l_folders = ItemPtr(ip_listing).GetItems("user_share_folder");
    Item* lp_remains = mp_listingType->NewItem();
    ItemPtr(ip_listing).Remove();
    for (Item* lp_folder : l_folders)
        lp_remains->Connect(lp_folder);
    m_remains.push_back(lp_remains);
}

void ReceivedListings::Schedule()
{
    if (m_scheduled)
        return;
    m_scheduled = true;
    QTimer::singleShot(1, Qt::PreciseTimer, this, &ReceivedListings::RunSlice);
}

// Steps until the budget is spent: the remains of let-go listings first,
// then the storing of the listing that arrived first.
void ReceivedListings::RunSlice()
{
    m_scheduled = false;
    QElapsedTimer l_clock;
    l_clock.start();
    // Items removed during a slice are freed once at its end.
    StoreScope l_scope;
    for (bool l_first = true;; l_first = false) {
        if (!m_remains.empty()) {
            if (!m_remains.front() || RemoveStep(m_remains.front()))
                m_remains.pop_front();
        } else if (!m_jobs.empty()) {
            Job& l_job = *m_jobs.front();
            if (l_job.m_dead) {
                m_jobs.pop_front();
                continue;
            }
            if (l_job.m_stored) {
                // Marking it complete builds its page: a turn of its own.
                if (!l_first)
                    break;
                const ItemPtr l_listing = l_job.mp_listing;
                m_jobs.pop_front();
                l_listing.NewItem("user_share_loaded");
                break;
            }
            StoreStep(l_job);
        } else {
            break;
        }
        if (l_clock.elapsed() >= m_sliceBudgetMs)
            break;
    }
    if (IsBusy())
        Schedule();
}

void ReceivedListings::BeginStoring(Job& io_job)
{
    ItemPtr l_user = d.GetType("user")->GetItem(io_job.m_user);
    // A new listing replaces the old one whole, also when it is empty.
    if (ItemPtr l_old = l_user["user_share"])
        LetGo(l_old);
    io_job.mp_listing = mp_listingType->NewItem();
    ItemPtr(io_job.mp_listing) += l_user;
}

// The beginning, the start of a folder, or some of its files.
void ReceivedListings::StoreStep(Job& io_job)
{
    if (!io_job.mp_listing) {
        BeginStoring(io_job);
        return;
    }
    if (io_job.m_folders.empty()) {
        io_job.m_stored = true;
        return;
    }
    const auto l_next = io_job.m_folders.cbegin();
    const std::string& l_name = l_next->first;
    const std::set<FileInfo>& l_files = l_next->second;
    if (!io_job.mp_folder) {
        ItemPtr l_folder = ItemPtr(io_job.mp_listing).NewItem("user_share_folder");
        l_folder += mp_folderNameType->GetItem(l_name);
        io_job.m_byName.emplace(l_name, l_folder);
        const std::string l_parentName = GetParentFolder(l_name);
        if (l_parentName != l_name) {
            const auto l_parent = io_job.m_byName.find(l_parentName);
            if (l_parent != io_job.m_byName.end())
                l_folder.NewItem("user_share_folder_parent") += ItemPtr(l_parent->second).NewItem("user_share_folder_child");
        }
        io_job.mp_folder = l_folder;
        io_job.m_file = l_files.cbegin();
        return;
    }
    // A handler that removed the listing meanwhile ends the job.
    for (std::size_t l_count = 0; l_count < FilesPerStep && io_job.m_file != l_files.cend() && !io_job.m_dead;
         ++l_count, ++io_job.m_file) {
        ItemPtr l_file = ItemPtr(io_job.mp_folder).NewItem("user_share_file");
        l_file += mp_fileNameType->GetItem(io_job.m_file->m_name);
        l_file += mp_sizeType->GetItem(ToString(io_job.m_file->m_fileSize));
        ConnectAttributes(l_file, io_job.m_file->m_attributeMap);
    }
    if (io_job.m_file == l_files.cend()) {
        io_job.mp_folder = nullptr;
        // Freed as it goes: the received records of a large listing take
        // a while to free at once.
        io_job.m_folders.erase(l_next);
    }
}

// Some files of the first folder left, or that folder once it has none,
// with its links to parent and child folders (the other end of each goes
// with the other folder); last the item that held the folders.
bool ReceivedListings::RemoveStep(Item* ip_remains)
{
    const PartnerSet* lp_folders = ip_remains->Partners(mp_folderType);
    if (!lp_folders || lp_folders->Empty()) {
        ip_remains->Remove();
        return true;
    }
    Item* lp_folder = lp_folders->First();
    std::vector<Item*> l_doomed = SomePartners(lp_folder, mp_fileType, FilesPerStep);
    if (l_doomed.empty()) {
        l_doomed = SomePartners(lp_folder, mp_parentLinkType, 1);
        for (Item* lp_link : SomePartners(lp_folder, mp_childLinkType, AllPartners))
            l_doomed.push_back(lp_link);
        l_doomed.push_back(lp_folder);
    }
    for (Item* lp_item : l_doomed)
        lp_item->Remove();
    return false;
}

void ReceivedListings::OnListingRemoved(Item* ip_listing)
{
    for (const std::unique_ptr<Job>& lp_job : m_jobs) {
        if (lp_job->mp_listing == ip_listing)
            lp_job->m_dead = true;
    }
    for (Item*& lp_remains : m_remains) {
        if (lp_remains == ip_listing)
            lp_remains = nullptr;
    }
}
