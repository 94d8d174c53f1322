#pragma once
// Game relay between two game clients: /chall, /accept, /reject, /setp, /move, /give, /wins.
#include "commands/chat_state.h"

namespace qm {

// A player leaves a running game: its opponent (the client named by the
// player's AuxNick, exactly) is sent "ERR" and becomes free.
void AbortGame(ChatState& state, const TTcpSrvClient& player);

void CmdChallenge(ChatState& state, TTcpSrvClient& client, std::string_view argument);
void CmdAccept(ChatState& state, TTcpSrvClient& client, std::string_view argument);
void CmdReject(ChatState& state, TTcpSrvClient& client, std::string_view argument);
void CmdSetup(ChatState& state, TTcpSrvClient& client, std::string_view argument);
void CmdMove(ChatState& state, TTcpSrvClient& client, std::string_view argument);
void CmdGive(ChatState& state, TTcpSrvClient& client, std::string_view argument);
void CmdWins(ChatState& state, TTcpSrvClient& client, std::string_view argument);

}  // namespace qm
