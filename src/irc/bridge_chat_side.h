#pragma once
// What the IRC bridge needs of the chat server. The chat server implements
// it over its client list; the bridge never sees a chat record.
#include <functional>
#include <string_view>

namespace qm {

class BridgeChatSide {
public:
    virtual ~BridgeChatSide() = default;
    // Sends `text` (a whole line, with its line end) to every member of the
    // bridged channel, from the newest connection down to the oldest.
    virtual void SendToBridgedChannel(std::string_view text) = 0;
    // Visits the members of the bridged channel in the same order.
    virtual void ForEachBridgedMember(const std::function<void(std::string_view nick, bool hasVoice)>& visit) const = 0;
    // Sends `text` to every connected user whose nickname equals `nick`
    // ignoring letter case, in whatever channel; calls `away` with the
    // nickname and away message of each recipient who is away, after its
    // line. Returns whether anybody received it.
    virtual bool SendPrivate(std::string_view nick, std::string_view text,
                             const std::function<void(std::string_view nick, std::string_view awayMessage)>& away) = 0;
};

}  // namespace qm
