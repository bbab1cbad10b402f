#pragma once

#include "core/io/MemStream.h"

#include <functional>
#include <string>
#include <utility>

// What the peer layer asks of the shared-folders service. The service is
// made after the peer layer, so the peer layer reaches it only while it
// handles a received message, never while it is being built. The service
// takes the received listings and folder requests itself, by connecting to
// PeerMessenger::UserShare and PeerMessenger::SharedFilesInFolderRequested.
class SharedFoldersService
{
public:
    virtual ~SharedFoldersService() = default;

    // The complete body of the answer to a browse request from the user: the
    // u32 5, then one zlib stream of the folders that user may see and of the
    // attribute code table. Empty when no listing can be sent (it would not
    // fit a frame, or could not be compressed): then nothing is sent.
    virtual MemStream GetSharedFilesMessage(std::string i_user) = 0;

    // The same answer, when it is ready: i_done gets the body on the GUI
    // thread, either before this returns or later from the event loop, and
    // exactly once (with an empty body when the service goes first).
    using BrowseReplyDone = std::function<void(MemStream i_body)>;
    virtual void RequestSharedFilesMessage(std::string i_user, BrowseReplyDone i_done)
    {
        i_done(GetSharedFilesMessage(std::move(i_user)));
    }
};

// The one shared-folders service as the peer layer sees it; null until it
// exists.
extern SharedFoldersService* sharedFoldersService;
