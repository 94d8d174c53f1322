#include "commands/info.h"

namespace qm {

// Not built yet: answered like a line that matches no command.
void CmdVersion(ChatState& state, TTcpSrvClient& client, std::string_view) { Reply(state, client, " No such command.\r\n"); }
void CmdNames(ChatState& state, TTcpSrvClient& client, std::string_view) { Reply(state, client, " No such command.\r\n"); }
void CmdWhois(ChatState& state, TTcpSrvClient& client, std::string_view) { Reply(state, client, " No such command.\r\n"); }
void CmdWho(ChatState& state, TTcpSrvClient& client, std::string_view) { Reply(state, client, " No such command.\r\n"); }
void CmdStat(ChatState& state, TTcpSrvClient& client, std::string_view) { Reply(state, client, " No such command.\r\n"); }
void CmdHelp(ChatState& state, TTcpSrvClient& client, std::string_view) { Reply(state, client, " No such command.\r\n"); }
void CmdHelpChannels(ChatState& state, TTcpSrvClient& client, std::string_view) { Reply(state, client, " No such command.\r\n"); }
void CmdHelpRegistration(ChatState& state, TTcpSrvClient& client, std::string_view) { Reply(state, client, " No such command.\r\n"); }

}  // namespace qm
