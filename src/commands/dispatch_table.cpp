#include "commands/dispatch_table.h"

#include "commands/accounts.h"
#include "commands/admin.h"
#include "commands/channels.h"
#include "commands/game.h"
#include "commands/info.h"
#include "commands/mail.h"
#include "commands/modes.h"
#include "commands/routing.h"

namespace qm {

namespace {

using enum Match;
using enum Case;

// Every command, in the order a line is tested. Handlers whose row has an
// argument offset of 0 parse the line themselves or take no argument.
constexpr CommandRow kRows[] = {
    {"/pass", kFirstN, kExact, 6, CmdPass},
    {"/reg", kFirstN, kExact, 5, CmdReg},
    {"/admin", kFirstN, kIgnored, 7, CmdAdmin},
    {"/=sop", kFirstN, kIgnored, 6, CmdPromoteServOp, Role::kAdmin, " attempted to create a ServOP.  Not admin: Failed."},
    {"/=cop", kFirstN, kIgnored, 6, CmdPromoteChanOp, Role::kAdmin, " attempted to create a ChanOP.  Not admin: Failed."},
    {"/=spy", kFirstN, kIgnored, 6, CmdPromoteSpy, Role::kAdmin, " attempted to create a spy.  Not admin: Failed."},
    {"/on", kFirstN, kIgnored, 4, CmdServOpNotice, Role::kServOp, " attempted to use /on.  Not ServOP: Failed."},
    {"/cn", kFirstN, kIgnored, 4, CmdChanOpNotice, Role::kChanOp, " attempted to use /cn.  Not ChanOP: Failed."},
    {"/sn", kFirstN, kIgnored, 4, CmdSpyNotice, Role::kSpy, " attempted to use /sn.  Not Spy: Failed."},
    {"/under", kFirstN, kIgnored, 0, CmdUndercover, Role::kSpy, " attempted to use /under.  Not spy: Failed."},
    {"/op", kWholeLine, kIgnored, 0, CmdQuietOp, Role::kChanOp, " attempted used /op.  Failed: Not ChanOP"},
    {"/kill", kFirstN, kIgnored, 0, CmdKill, Role::kServOp, " attempted to use /kill.  Not ServOP: Failed."},
    {"/ban", kFirstN, kIgnored, 5, CmdBan, Role::kServOp, " attempted to use /ban.  Not ServOP: Failed."},
    {"/join", kFirstN, kIgnored, 6, CmdForcedJoin, Role::kChanOp, " attempted to use /join.  Not ChanOP: Failed."},
    {"/deop", kFirstN, kIgnored, 6, CmdForcedDeop, Role::kChanOp, " attempted to use /deop.  Not ChanOP: Failed."},
    {"/ver", kWholeLine, kIgnored, 0, CmdVersion},
    {"/del", kFirstN, kExact, 5, CmdDel},
    {"/names", kWholeLine, kIgnored, 0, CmdNames},
    {"/whois", kFirstN, kIgnored, 7, CmdWhois},
    {"/who", kWholeLine, kIgnored, 0, CmdWho},
    {"/stat", kFirstN, kIgnored, 0, CmdStat},
    {"/v", kFirstN, kIgnored, 3, CmdVoice},
    {"/o", kFirstN, kIgnored, 3, CmdOp},
    {"/d", kFirstN, kIgnored, 3, CmdDeop},
    {"/k", kFirstN, kIgnored, 3, CmdKick},
    {"/l", kFirstN, kIgnored, 0, CmdLock},
    {"/wall", kFirstN, kIgnored, 6, CmdWall},
    {"/away", kFirstN, kIgnored, 6, CmdAway},
    {"/inv", kWholeLine, kIgnored, 0, CmdInvisible},
    {"/j", kFirstN, kIgnored, 3, CmdJoin},
    {"/n", kFirstN, kIgnored, 0, CmdNick},
    {"/query", kFirstN, kIgnored, 7, CmdQuery},
    {"/chall", kFirstN, kIgnored, 7, CmdChallenge},
    {"/accept", kFirstN, kIgnored, 8, CmdAccept},
    {"/reject", kFirstN, kIgnored, 8, CmdReject},
    {"/setp", kFirstN, kIgnored, 6, CmdSetup},
    {"/move", kFirstN, kIgnored, 6, CmdMove},
    {"/give", kFirstN, kIgnored, 0, CmdGive},
    {"/wins", kFirstN, kIgnored, 0, CmdWins},
    {"/me", kFirstN, kIgnored, 4, CmdMe},
    {"/m", kFirstN, kIgnored, 0, CmdPrivateMessage},
    {"/send", kFirstN, kIgnored, 0, CmdSend},
    {"/read", kFirstN, kExact, 6, CmdRead},
    {"/im", kFirstN, kIgnored, 0, CmdIrcMessage},
    {"/quit", kFirstN, kIgnored, 6, CmdQuit},
    {"/echo", kWholeLine, kIgnored, 0, CmdEcho},
    {"/help", kWholeLine, kIgnored, 0, CmdHelp},
    {"/help channels", kWholeLine, kIgnored, 0, CmdHelpChannels},
    {"/help registration", kWholeLine, kIgnored, 0, CmdHelpRegistration},
};

static_assert(NoRowShadowed(kRows), "a command row can never match: an earlier row takes its lines");

}  // namespace

std::span<const CommandRow> CommandTable() { return kRows; }

bool HasRole(const TTcpSrvClient& client, Role role) {
    switch (role) {
    case Role::kAnyone: return true;
    case Role::kAdmin: return client.IsAdmin;
    case Role::kServOp: return client.IsServOp;
    case Role::kChanOp: return client.IsChanOp;
    case Role::kSpy: return client.IsSpy;
    }
    return false;
}

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
