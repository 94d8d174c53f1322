#pragma once
// The table of "/" commands, tested from top to bottom: the first row whose
// command text matches the line handles it. Rows overlap on purpose (a
// longer command sits above the shorter one it begins with), so the order
// is behaviour.
#include <span>
#include <string_view>

#include "commands/chat_state.h"

namespace qm {

// `argument` is the line after the row's argOffset characters (a view into
// the received line); handlers whose row has no offset parse the line themselves.
using CommandHandler = void (*)(ChatState& state, TTcpSrvClient& client, std::string_view argument);

// How much of the line is compared with the command text.
enum class Match { kFirstN, kWholeLine };
// The server-wide role a command needs. A sender without it is answered as
// for a line that matches no command, and the attempt is logged.
enum class Role { kAnyone, kAdmin, kServOp, kChanOp, kSpy };
// Whether letter case matters in that comparison.
enum class Case { kExact, kIgnored };

struct CommandRow {
    std::string_view text;
    Match match;
    Case caseRule;
    // The argument is the line after this many characters (the command text
    // and one separator, which is not examined); 0: the handler parses the
    // line itself or takes no argument.
    int argOffset;
    CommandHandler handler;
    Role role = Role::kAnyone;
    // Logged after the sender's address and nickname when the role is missing.
    std::string_view refusal = {};
};

bool HasRole(const TTcpSrvClient& client, Role role);

std::span<const CommandRow> CommandTable();

constexpr bool RowMatches(const CommandRow& row, std::string_view line) {
    if (row.match == Match::kWholeLine && line.size() != row.text.size()) return false;
    if (line.size() < row.text.size()) return false;
    for (std::size_t i = 0; i < row.text.size(); ++i) {
        char a = line[i], b = row.text[i];
        if (row.caseRule == Case::kIgnored) {
            a = ToLowerAscii(a);
            b = ToLowerAscii(b);
        }
        if (a != b) return false;
    }
    return true;
}

// The first row that matches, or nullptr.
const CommandRow* FindCommand(std::string_view line);

// The row's argument in `line`: what follows argOffset characters, or empty.
std::string_view CommandArgument(const CommandRow& row, std::string_view line);

// True when every line that `later` accepts is already taken by `earlier`,
// so that `later` could never run.
constexpr bool Shadows(const CommandRow& earlier, const CommandRow& later) {
    if (earlier.match == Match::kWholeLine)
        return later.match == Match::kWholeLine && RowMatches(earlier, later.text) &&
               (earlier.caseRule == Case::kIgnored || later.caseRule == Case::kExact);
    if (earlier.caseRule == Case::kExact && later.caseRule == Case::kIgnored) return false;
    return RowMatches(CommandRow{earlier.text, Match::kFirstN, earlier.caseRule, 0, nullptr}, later.text);
}

template <std::size_t N>
constexpr bool NoRowShadowed(const CommandRow (&rows)[N]) {
    for (std::size_t i = 0; i < N; ++i)
        for (std::size_t j = i + 1; j < N; ++j)
            if (Shadows(rows[i], rows[j])) return false;
    return true;
}

}  // namespace qm
