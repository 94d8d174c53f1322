#pragma once
// What the operator's console does to users without a chat command: the
// admin controls (roles, kill, ban of connected users), the user data
// editor (registered records) and the ban list's edits.
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "chat/roles.h"
#include "commands/chat_state.h"

namespace qm {

// The roles of the last client (walking down) whose nickname is `nick`,
// letter case significant; nothing when nobody is called that.
std::optional<RoleFlags> ConnectedRolesOf(const ChatState& state, std::string_view nick);
// Every client called `nick` (letter case significant) that lacks the role
// gets it with the promotion text; every one that has it and `on` is false
// loses it with the removal text. Nothing is logged or stored.
void SetConnectedRole(ChatState& state, std::string_view nick, Role role, bool on);
// Disconnects every client called `nick` (letter case ignored) with the
// reason and tells the last one's channel, except that connection itself.
void KillByOperator(ChatState& state, std::string_view nick, std::string_view reason);
// Appends the address of every client called `nick` (letter case
// significant) to the ban list; the user is not told.
void BanByOperator(ChatState& state, std::string_view nick);

// After any change of the ban list: tells the operator the new list and
// writes bans.txt; false (reported) when the file could not be written.
bool BanListChanged(ChatState& state);
// The ban list's edits: each writes bans.txt (a failure is reported; the
// change in memory stands) and tells the operator the new list.
void AppendBan(ChatState& state, std::string entry);
void RemoveBanAt(ChatState& state, std::size_t index);

// Line 0 of every record, in database order.
std::vector<std::string> RegisteredNicks(const ChatState& state);
// The role lines of the first record called `nick` (letter case significant).
std::optional<RecordRoles> StoredRolesOf(const ChatState& state, std::string_view nick);
// Writes the roles (and, when `password` is not empty, the password hashed
// off the loop) into every record called `nick`. `done` runs on the loop
// with false when there was no such record or the hash could not be made.
void WriteUserRecord(ChatState& state, std::string nick, std::string password, RoleFlags roles,
                     std::function<void(bool written)> done);

}  // namespace qm
