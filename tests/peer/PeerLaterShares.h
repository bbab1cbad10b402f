#pragma once

#include "peer/SharedFoldersService.h"

#include <QByteArray>

#include <vector>

// Stands in for the shared-folders service and makes its browse replies
// later, when the test says so, as the service compresses them off the GUI
// thread.
class PeerLaterShares : public SharedFoldersService
{
public:
    PeerLaterShares() { sharedFoldersService = this; }
    ~PeerLaterShares() override { sharedFoldersService = nullptr; }
    PeerLaterShares(const PeerLaterShares&) = delete;
    PeerLaterShares& operator=(const PeerLaterShares&) = delete;

    MemStream GetSharedFilesMessage(std::string) override { return MemStream(); }
    void RequestSharedFilesMessage(std::string, BrowseReplyDone i_done) override { m_waiting.push_back(std::move(i_done)); }

    // Answers the request (in the order they came) with the body.
    void Answer(std::size_t i_request, const QByteArray& i_body)
    {
        MemStream l_body;
        l_body.WriteBuffer(i_body.constData(), static_cast<unsigned long>(i_body.size()));
        m_waiting.at(i_request)(l_body);
    }

    std::vector<BrowseReplyDone> m_waiting;
};
