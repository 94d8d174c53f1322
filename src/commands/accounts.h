#pragma once
// /reg and /pass: protecting the nickname in use with a password.
#include "commands/chat_state.h"

namespace qm {

// The argument is the new password.
void CmdPass(ChatState& state, TTcpSrvClient& client, std::string_view password);
void CmdReg(ChatState& state, TTcpSrvClient& client, std::string_view password);

}  // namespace qm
