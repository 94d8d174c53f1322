#pragma once
#include "commands/chat_state.h"

namespace qm {

// Decides what the line in client.ReceivedLine is (a line to ignore, a login
// step, a command or an ordinary line) and handles it.
void ProcessData(ChatState& state, TTcpSrvClient& client);

}  // namespace qm
