#pragma once
// Where ordinary lines go (the channel, or the query partner), and the
// message commands /me, /m and /im.
#include <string_view>

#include "commands/chat_state.h"

namespace qm {

// Sends `text` (a whole line, with its line end) to every member of
// `sender`'s channel, the sender included, from the last connection down;
// with `tagged`, members in query mode first get their channel's tag.
void SendToChannel(const ChatState& state, const TTcpSrvClient& sender, std::string_view text, bool tagged = true);

// The sender's lines may go to the linked IRC channel.
bool MayForwardToIrc(const ChatState& state, const TTcpSrvClient& sender);

// A line that is no command: chat line, comma line or query line.
void RouteOrdinaryLine(ChatState& state, TTcpSrvClient& client, std::string_view line);

void CmdMe(ChatState& state, TTcpSrvClient& client, std::string_view action);
void CmdPrivateMessage(ChatState& state, TTcpSrvClient& client, std::string_view line);
void CmdIrcMessage(ChatState& state, TTcpSrvClient& client, std::string_view line);

}  // namespace qm
