#pragma once
// Mail between registered users: /send, /read and /del.
#include "commands/chat_state.h"

namespace qm {

// " You have N messages.": the messages stored for the client's nickname.
void ReplyMessageCount(const ChatState& state, TTcpSrvClient& client);

void CmdSend(ChatState& state, TTcpSrvClient& client, std::string_view line);
// The argument is nothing (count) or a message number.
void CmdRead(ChatState& state, TTcpSrvClient& client, std::string_view number);
void CmdDel(ChatState& state, TTcpSrvClient& client, std::string_view number);

}  // namespace qm
