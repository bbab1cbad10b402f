#pragma once

#include "core/store/Data.h"
#include "peer/PeerMessenger.h"

#include <string>

// What the targets of the peer layer share: the messenger with its message
// handler in reach, as the reader of a connection calls it.
class MessengerUnderTest : public PeerMessenger
{
public:
    using PeerMessenger::HandleMessage;
};

// Removes every user but the one a target keeps: messages may name any.
inline void ForgetUsersBut(const std::string& i_kept)
{
    for (ItemPtr l_user : d.GetType("user")->GetItems()) {
        if (l_user.AsString() != i_kept)
            l_user.Remove();
    }
}
