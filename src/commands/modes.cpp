#include "commands/modes.h"

namespace qm {

// Not built yet: answered like a line that matches no command.
void CmdAway(ChatState& state, TTcpSrvClient& client, std::string_view) { Reply(state, client, " No such command.\r\n"); }
void CmdInvisible(ChatState& state, TTcpSrvClient& client, std::string_view) { Reply(state, client, " No such command.\r\n"); }
void CmdEcho(ChatState& state, TTcpSrvClient& client, std::string_view) { Reply(state, client, " No such command.\r\n"); }
void CmdQuery(ChatState& state, TTcpSrvClient& client, std::string_view) { Reply(state, client, " No such command.\r\n"); }
void CmdQuit(ChatState& state, TTcpSrvClient& client, std::string_view) { Reply(state, client, " No such command.\r\n"); }

}  // namespace qm
