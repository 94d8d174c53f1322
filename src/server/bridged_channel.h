#pragma once
// The chat side of the IRC bridge: the members of the bridged channel and
// private lines from IRC, over the client list.
#include "chat/client_list.h"
#include "irc/bridge_chat_side.h"

namespace qm {

class BridgedChannel final : public BridgeChatSide {
public:
    explicit BridgedChannel(ClientList& clients) : clients_(clients) {}

    void SendToBridgedChannel(std::string_view text) override;
    void ForEachBridgedMember(const std::function<void(std::string_view nick, bool hasVoice)>& visit) const override;
    bool SendPrivate(std::string_view nick, std::string_view text,
                     const std::function<void(std::string_view nick, std::string_view awayMessage)>& away) override;

private:
    ClientList& clients_;
};

}  // namespace qm
