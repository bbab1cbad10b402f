#pragma once

#include "core/io/FileInfo.h"
#include "core/store/Data.h"

#include <QObject>

#include <cstddef>
#include <deque>
#include <memory>
#include <string>

// Other users' listings as they arrive for the browse view, turned into
// items over several turns of the event loop: a listing of 70,000 files
// takes far longer to store, or to remove, than the window may stand still.
//
// A listing's storing begins in a later turn than its arrival. It begins by
// letting go of the user's earlier listing (complete and shown, or still
// being stored) at once and whole: that "user_share" item goes, so a page
// that shows it closes; what the old listing held is removed a slice at a
// time, before any listing's storing goes on. Then the new listing's
// folders and files are stored a slice at a time, and last, in a turn of
// its own, it is marked complete ("user_share_loaded"), on which the browse
// view builds its page. Listings are stored in order of arrival; a newer
// listing of a user ends the storing of an older one, so the two never mix.
//
// Whatever a slice leaves for a later one stays reachable from a primary
// "user_share" item (the listing being stored, or one that holds a let-go
// listing's folders until they are gone), so that the store's collection of
// unreachable items never frees what a later slice is to touch.
class ReceivedListings : public QObject, public DataHandler
{
public:
    // The longest a slice should hold the GUI thread. The turn that marks a
    // listing complete also builds its page.
    static constexpr int DefaultSliceBudgetMs = 20;
    // Files stored or removed between two looks at the clock.
    static constexpr std::size_t FilesPerStep = 64;

    // After the listing types have been declared.
    ReceivedListings();
    ~ReceivedListings() override;
    ReceivedListings(const ReceivedListings&) = delete;
    ReceivedListings& operator=(const ReceivedListings&) = delete;

    // Takes the user's new listing over; io_listing is left empty.
    void Receive(const std::string& i_user, FileInfoMap& io_listing);
    // Whether listings wait to be stored or removed.
    bool IsBusy() const { return !m_jobs.empty() || !m_remains.empty(); }

    // For tests that watch a listing arrive a step a turn: with 0, each
    // slice does one step.
    void SetSliceBudgetMs(int i_ms) { m_sliceBudgetMs = i_ms; }

private:
    struct Job;

    // Lets go of a listing at once; its folders and files follow later.
    void LetGo(Item* ip_listing);
    void Schedule();
    void RunSlice();
    void StoreStep(Job& io_job);
    void BeginStoring(Job& io_job);
    // True once the remains are gone.
    bool RemoveStep(Item* ip_remains);
    // Someone else removed a listing this holds: its work ends.
    void OnListingRemoved(Item* ip_listing);

    std::deque<std::unique_ptr<Job>> m_jobs;
    // Items that hold the folders of let-go listings; null once someone
    // else removed one.
    std::deque<Item*> m_remains;
    bool m_scheduled = false;
    int m_sliceBudgetMs = DefaultSliceBudgetMs;
    Type* mp_listingType;
    Type* mp_folderType;
    Type* mp_fileType;
    Type* mp_parentLinkType;
    Type* mp_childLinkType;
    Type* mp_folderNameType;
    Type* mp_fileNameType;
    Type* mp_sizeType;
};
