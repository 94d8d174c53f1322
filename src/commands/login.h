#pragma once
// The login dialogue: the nickname prompt, the password of a registered
// nickname, and the password asked for when changing to one.
#include "commands/chat_state.h"

namespace qm {

inline constexpr std::string_view kGameHandshake = "gamma kilo omega sigma 48210573918265x-903174x-58";
inline constexpr std::size_t kMaxNickLength = 35;

// Some connected client (the asker included) has this nickname, letter case ignored.
bool NicknameInUse(const ChatState& state, std::string_view nick);

// The nickname of the record at `record` was typed at the nickname prompt,
// or with /n: the connection holds it, in its registered spelling, while
// the password is awaited.
void AskLoginPassword(ChatState& state, TTcpSrvClient& client, int record);
void AskNickChangePassword(ChatState& state, TTcpSrvClient& client, int record);

void HandleNicknameLine(ChatState& state, TTcpSrvClient& client, std::string_view line);
void HandleLoginPassword(ChatState& state, TTcpSrvClient& client, std::string_view password);
void HandleNickChangePassword(ChatState& state, TTcpSrvClient& client, std::string_view password);

// After a free nickname or a correct password: the user enters the main channel.
void CompleteLogin(ChatState& state, TTcpSrvClient& client);

}  // namespace qm
