#pragma once
// Channels and the channel operator's commands: /j, /n, /o, /d, /k, /l, /wall, /v.
#include "commands/chat_state.h"

namespace qm {

// Moves `client` to `target`: the part notice to the old channel and the
// join notice to the new one (none for an undercover user), operator
// status for the first to enter, none in the main channel, channel unlocked.
void MoveToChannel(ChatState& state, TTcpSrvClient& client, const std::string& target);

// " Usage: /j <channel word>", the answer to a channel that cannot be entered.
void ReplyJoinUsage(const ChatState& state, TTcpSrvClient& client);

void CmdJoin(ChatState& state, TTcpSrvClient& client, std::string_view argument);
void CmdNick(ChatState& state, TTcpSrvClient& client, std::string_view line);
void CmdOp(ChatState& state, TTcpSrvClient& client, std::string_view argument);
void CmdDeop(ChatState& state, TTcpSrvClient& client, std::string_view argument);
void CmdKick(ChatState& state, TTcpSrvClient& client, std::string_view argument);
void CmdLock(ChatState& state, TTcpSrvClient& client, std::string_view argument);
void CmdWall(ChatState& state, TTcpSrvClient& client, std::string_view argument);
void CmdVoice(ChatState& state, TTcpSrvClient& client, std::string_view argument);

}  // namespace qm
