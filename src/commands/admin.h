#pragma once
// Administration and roles: /admin, the promotions, the role notices, undercover, /op, /kill, /ban, /join, /deop.
#include "commands/chat_state.h"

namespace qm {

void CmdAdmin(ChatState& state, TTcpSrvClient& client, std::string_view argument);
void CmdPromoteServOp(ChatState& state, TTcpSrvClient& client, std::string_view argument);
void CmdPromoteChanOp(ChatState& state, TTcpSrvClient& client, std::string_view argument);
void CmdPromoteSpy(ChatState& state, TTcpSrvClient& client, std::string_view argument);
void CmdServOpNotice(ChatState& state, TTcpSrvClient& client, std::string_view argument);
void CmdChanOpNotice(ChatState& state, TTcpSrvClient& client, std::string_view argument);
void CmdSpyNotice(ChatState& state, TTcpSrvClient& client, std::string_view argument);
void CmdUndercover(ChatState& state, TTcpSrvClient& client, std::string_view argument);
void CmdQuietOp(ChatState& state, TTcpSrvClient& client, std::string_view argument);
void CmdKill(ChatState& state, TTcpSrvClient& client, std::string_view argument);
void CmdBan(ChatState& state, TTcpSrvClient& client, std::string_view argument);
void CmdForcedJoin(ChatState& state, TTcpSrvClient& client, std::string_view argument);
void CmdForcedDeop(ChatState& state, TTcpSrvClient& client, std::string_view argument);

}  // namespace qm
