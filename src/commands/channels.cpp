#include "commands/channels.h"

namespace qm {

// Not built yet: answered like a line that matches no command.
void CmdJoin(ChatState& state, TTcpSrvClient& client, std::string_view) { Reply(state, client, " No such command.\r\n"); }
void CmdNick(ChatState& state, TTcpSrvClient& client, std::string_view) { Reply(state, client, " No such command.\r\n"); }
void CmdOp(ChatState& state, TTcpSrvClient& client, std::string_view) { Reply(state, client, " No such command.\r\n"); }
void CmdDeop(ChatState& state, TTcpSrvClient& client, std::string_view) { Reply(state, client, " No such command.\r\n"); }
void CmdKick(ChatState& state, TTcpSrvClient& client, std::string_view) { Reply(state, client, " No such command.\r\n"); }
void CmdLock(ChatState& state, TTcpSrvClient& client, std::string_view) { Reply(state, client, " No such command.\r\n"); }
void CmdWall(ChatState& state, TTcpSrvClient& client, std::string_view) { Reply(state, client, " No such command.\r\n"); }
void CmdVoice(ChatState& state, TTcpSrvClient& client, std::string_view) { Reply(state, client, " No such command.\r\n"); }

}  // namespace qm
