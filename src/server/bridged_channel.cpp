#include "server/bridged_channel.h"

#include "irc/irc_link.h"
#include "storage/ascii.h"

namespace qm {

void BridgedChannel::SendToBridgedChannel(std::string_view text) {
    clients_.SendToExactChannel(kBridgedChannel, text);
}

void BridgedChannel::ForEachBridgedMember(
    const std::function<void(std::string_view nick, bool hasVoice)>& visit) const {
    clients_.ForEachMemberDown(kBridgedChannel, [&](const TTcpSrvClient& member) {
        if (member.Channel() == kBridgedChannel) visit(member.Nick(), member.HasIrcVoice);
    });
}

bool BridgedChannel::SendPrivate(
    std::string_view nick, std::string_view text,
    const std::function<void(std::string_view nick, std::string_view awayMessage)>& away) {
    bool delivered = false;
    clients_.ForEachRecipientDown(nick, [&](TTcpSrvClient& recipient) {
        delivered = true;
        recipient.SendStr(text);
        if (recipient.Away) away(recipient.Nick(), recipient.AwayMessage);
    });
    return delivered;
}

}  // namespace qm
