#pragma once
// What keeps the clients findable by nickname and by channel: told of every
// change of either, so that a line to a channel visits only its members and
// a nickname is found without a walk over everyone.
#include <string>

namespace qm {

class TTcpSrvClient;

class ClientIndex {
public:
    virtual void NickChanged(TTcpSrvClient& client, const std::string& old) = 0;
    virtual void ChannelChanged(TTcpSrvClient& client, const std::string& old) = 0;

protected:
    ~ClientIndex() = default;
};

}  // namespace qm
