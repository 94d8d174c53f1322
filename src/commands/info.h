#pragma once
// Information commands: /ver, /names, /whois, /who, /stat and the three /help texts.
#include "commands/chat_state.h"

namespace qm {

void CmdVersion(ChatState& state, TTcpSrvClient& client, std::string_view argument);
void CmdNames(ChatState& state, TTcpSrvClient& client, std::string_view argument);
void CmdWhois(ChatState& state, TTcpSrvClient& client, std::string_view argument);
void CmdWho(ChatState& state, TTcpSrvClient& client, std::string_view argument);
void CmdStat(ChatState& state, TTcpSrvClient& client, std::string_view argument);
void CmdHelp(ChatState& state, TTcpSrvClient& client, std::string_view argument);
void CmdHelpChannels(ChatState& state, TTcpSrvClient& client, std::string_view argument);
void CmdHelpRegistration(ChatState& state, TTcpSrvClient& client, std::string_view argument);

}  // namespace qm
