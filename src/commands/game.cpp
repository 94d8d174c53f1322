#include "commands/game.h"

namespace qm {

// Not built yet: answered like a line that matches no command.
void CmdChallenge(ChatState& state, TTcpSrvClient& client, std::string_view) { Reply(state, client, " No such command.\r\n"); }
void CmdAccept(ChatState& state, TTcpSrvClient& client, std::string_view) { Reply(state, client, " No such command.\r\n"); }
void CmdReject(ChatState& state, TTcpSrvClient& client, std::string_view) { Reply(state, client, " No such command.\r\n"); }
void CmdSetup(ChatState& state, TTcpSrvClient& client, std::string_view) { Reply(state, client, " No such command.\r\n"); }
void CmdMove(ChatState& state, TTcpSrvClient& client, std::string_view) { Reply(state, client, " No such command.\r\n"); }
void CmdGive(ChatState& state, TTcpSrvClient& client, std::string_view) { Reply(state, client, " No such command.\r\n"); }
void CmdWins(ChatState& state, TTcpSrvClient& client, std::string_view) { Reply(state, client, " No such command.\r\n"); }

}  // namespace qm
