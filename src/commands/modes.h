#pragma once
// Personal modes: /away, /inv, /echo, /query, /quit.
#include "commands/chat_state.h"

namespace qm {

void CmdAway(ChatState& state, TTcpSrvClient& client, std::string_view argument);
void CmdInvisible(ChatState& state, TTcpSrvClient& client, std::string_view argument);
void CmdEcho(ChatState& state, TTcpSrvClient& client, std::string_view argument);
void CmdQuery(ChatState& state, TTcpSrvClient& client, std::string_view argument);
void CmdQuit(ChatState& state, TTcpSrvClient& client, std::string_view argument);

}  // namespace qm
