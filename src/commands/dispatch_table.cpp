#include "commands/dispatch_table.h"

#include "commands/accounts.h"
#include "commands/mail.h"
#include "commands/routing.h"

namespace qm {

namespace {

using enum Match;
using enum Case;

// Rows of the commands this server has, in their places; a "/" line that
// matches none of them is answered " No such command.".
constexpr CommandRow kRows[] = {
    {"/pass", kFirstN, kExact, 6, CmdPass},
    {"/reg", kFirstN, kExact, 5, CmdReg},
    {"/del", kFirstN, kExact, 5, CmdDel},
    {"/me", kFirstN, kIgnored, 4, CmdMe},
    {"/m", kFirstN, kIgnored, 0, CmdPrivateMessage},
    {"/send", kFirstN, kIgnored, 0, CmdSend},
    {"/read", kFirstN, kExact, 6, CmdRead},
    {"/im", kFirstN, kIgnored, 0, CmdIrcMessage},
};

static_assert(NoRowShadowed(kRows), "a command row can never match: an earlier row takes its lines");

}  // namespace

std::span<const CommandRow> CommandTable() { return kRows; }

const CommandRow* FindCommand(std::string_view line) {
    for (const auto& row : kRows)
        if (RowMatches(row, line)) return &row;
    return nullptr;
}

std::string_view CommandArgument(const CommandRow& row, std::string_view line) {
    const auto offset = static_cast<std::size_t>(row.argOffset);
    return line.size() > offset ? line.substr(offset) : std::string_view{};
}

}  // namespace qm
