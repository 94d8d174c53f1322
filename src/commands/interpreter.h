#pragma once
#include "commands/chat_state.h"

namespace qm {

// Decides what `line` is (a line to ignore, a login step, a command or an
// ordinary line) and handles it.
void ProcessData(ChatState& state, TTcpSrvClient& client, std::string_view line);

}  // namespace qm
