#include "commands/admin.h"

namespace qm {

// Not built yet: answered like a line that matches no command.
void CmdAdmin(ChatState& state, TTcpSrvClient& client, std::string_view) { Reply(state, client, " No such command.\r\n"); }
void CmdPromoteServOp(ChatState& state, TTcpSrvClient& client, std::string_view) { Reply(state, client, " No such command.\r\n"); }
void CmdPromoteChanOp(ChatState& state, TTcpSrvClient& client, std::string_view) { Reply(state, client, " No such command.\r\n"); }
void CmdPromoteSpy(ChatState& state, TTcpSrvClient& client, std::string_view) { Reply(state, client, " No such command.\r\n"); }
void CmdServOpNotice(ChatState& state, TTcpSrvClient& client, std::string_view) { Reply(state, client, " No such command.\r\n"); }
void CmdChanOpNotice(ChatState& state, TTcpSrvClient& client, std::string_view) { Reply(state, client, " No such command.\r\n"); }
void CmdSpyNotice(ChatState& state, TTcpSrvClient& client, std::string_view) { Reply(state, client, " No such command.\r\n"); }
void CmdUndercover(ChatState& state, TTcpSrvClient& client, std::string_view) { Reply(state, client, " No such command.\r\n"); }
void CmdQuietOp(ChatState& state, TTcpSrvClient& client, std::string_view) { Reply(state, client, " No such command.\r\n"); }
void CmdKill(ChatState& state, TTcpSrvClient& client, std::string_view) { Reply(state, client, " No such command.\r\n"); }
void CmdBan(ChatState& state, TTcpSrvClient& client, std::string_view) { Reply(state, client, " No such command.\r\n"); }
void CmdForcedJoin(ChatState& state, TTcpSrvClient& client, std::string_view) { Reply(state, client, " No such command.\r\n"); }
void CmdForcedDeop(ChatState& state, TTcpSrvClient& client, std::string_view) { Reply(state, client, " No such command.\r\n"); }

}  // namespace qm
