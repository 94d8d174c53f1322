#include "commands/admin.h"

#include "commands/channels.h"
#include "commands/operator_actions.h"

#include <string>

#include "storage/text_file.h"

namespace qm {

namespace {

constexpr std::size_t kMaxReason = 512;

// Privileged actions are logged as "<address>: <nick><what>".
void LogAction(const ChatState& state, const TTcpSrvClient& client, std::string_view what) {
    state.log.Add(client.PeerAddr + ": " + client.Nick() + std::string(what));
}

// Gives the role to every user called `nick` who lacks it (telling them what
// they can now do) and silently takes it from those who have it.
void ToggleRole(ChatState& state, TTcpSrvClient& admin, std::string_view nick, bool TTcpSrvClient::*role,
                const std::string& promotion) {
    bool found = false;
    state.clients.ForEachHolderDown(nick, [&](TTcpSrvClient& other) {
        found = true;
        if (other.*role) {
            other.*role = false;
        } else {
            other.*role = true;
            Reply(state, other, promotion);
        }
    });
    if (!found) Reply(state, admin, " User is not online.\r\n");
}

// A notice to everybody who holds the role, the sender included.
void RoleNotice(const ChatState& state, const TTcpSrvClient& sender, bool TTcpSrvClient::*role,
                std::string_view group, std::string_view message) {
    std::string text;
    text.append(state.settings.Prefix).append(" ").append(group).append(": <").append(sender.Nick());
    text.append("> ").append(message).append("\r\n");
    state.clients.ForEachClientDown([&](TTcpSrvClient& other) {
        if (other.*role) other.SendStr(text);
    });
}

void CheckAdminPassword(ChatState& state, TTcpSrvClient& client, std::string_view password) {
    const std::string& adminPass = state.settings.AdminPass;
    if (adminPass.empty()) {
        Reply(state, client, " No such command.\r\n");
        LogAction(state, client, " attempted to log in as admin.  No pass set: Failed.");
        return;
    }
    if (!EqualsIgnoreCase(password, adminPass)) {
        Reply(state, client, " No such command.\r\n");
        LogAction(state, client, " attempted to log in as admin.  Bad pass: Failed.");
        state.adminAttempts.Failed(client.PeerAddr, state.clock.Now());
        // Like a wrong user password: guessing must be slow.
        client.PauseFor(state.badPasswordDelay);
        return;
    }
    state.adminAttempts.Succeeded(client.PeerAddr);
    const Settings& s = state.settings;
    Reply(state, client,
          " Admin mode enabled.  Here's some commands:\r\n/=sop <nick> Promotes <nick> to " + s.ServOP +
              "\r\n/=cop <nick> Promotes <nick> to " + s.ChanOP +
              "\r\n/=spy <nick> Promotes <nick> to a spy\r\n");
    LogAction(state, client, " has logged in as an admin.");
    client.IsAdmin = true;
}

}  // namespace

void CmdAdmin(ChatState& state, TTcpSrvClient& client, std::string_view password) {
    if (state.settings.AdminPass.empty()) {
        // No password to guess: refused at once.
        CheckAdminPassword(state, client, password);
        return;
    }
    // Guessing must not scale with connections: an address that has failed
    // often waits first, and then every check waits its turn server-wide.
    const auto hold = state.adminAttempts.HoldFor(client.PeerAddr, state.clock.Now());
    client.PauseThen(hold, [&state, &client, password = std::string(password)] {
        state.adminChecks.Add([&state, weak = std::weak_ptr<TTcpSrvClient>(client.Self()), password] {
            const auto c = weak.lock();
            if (!c || !c->Connected()) return false;
            // A wrong password pauses the client again at once.
            c->Resume();
            CheckAdminPassword(state, *c, password);
            return true;
        });
    });
}

void CmdPromoteServOp(ChatState& state, TTcpSrvClient& client, std::string_view nick) {
    const std::string& servOp = state.settings.ServOP;
    ToggleRole(state, client, nick, &TTcpSrvClient::IsServOp,
               " You've been promoted to " + servOp +
                   "\r\nCommands: /kill <nick> = <reason> Removes <nick> from the server.\r\n"
                   "/ban <nick> Adds <nick> to the server's ban list.\r\n"
                   "/on <message> Sends a notice to every " +
                   servOp + "\r\n");
}

void CmdPromoteChanOp(ChatState& state, TTcpSrvClient& client, std::string_view nick) {
    const Settings& s = state.settings;
    const std::string& word = s.Channel;
    ToggleRole(state, client, nick, &TTcpSrvClient::IsChanOp,
               " You've been promoted to " + s.ChanOP + "\r\nCommands: /join <" + word + "> Joins a " + word +
                   " even if it is locked.\r\n/op Give yourself ops quietly.\r\n"
                   "/deop <nick> Deop even if you are not in the " +
                   word + " or an operator.\r\n/cn <message> Sends a notice to all " + s.ChanOP + "s\r\n");
}

void CmdPromoteSpy(ChatState& state, TTcpSrvClient& client, std::string_view nick) {
    ToggleRole(state, client, nick, &TTcpSrvClient::IsSpy,
               " You've been promoted to a spy.  Commands: /under Enables/disables undercover mode.\r\n"
               "/sn <message> Sends notice to all spies.\r\n"
               "In undercover mode you can not appear on a /who or /names list.  You can join and leave a " +
                   state.settings.Channel + " quietly.\r\n");
}

void CmdServOpNotice(ChatState& state, TTcpSrvClient& client, std::string_view message) {
    RoleNotice(state, client, &TTcpSrvClient::IsServOp, state.settings.ServOP + "s", message);
}

void CmdChanOpNotice(ChatState& state, TTcpSrvClient& client, std::string_view message) {
    RoleNotice(state, client, &TTcpSrvClient::IsChanOp, state.settings.ChanOP + "s", message);
}

void CmdSpyNotice(ChatState& state, TTcpSrvClient& client, std::string_view message) {
    RoleNotice(state, client, &TTcpSrvClient::IsSpy, "Spies", message);
}

void CmdUndercover(ChatState& state, TTcpSrvClient& client, std::string_view) {
    client.Undercover = !client.Undercover;
    if (client.Undercover) {
        Reply(state, client, " Now undercover.\r\n");
        LogAction(state, client, " now undercover");
    } else {
        Reply(state, client, " No longer undercover.\r\n");
        LogAction(state, client, " no longer undercover");
    }
}

void CmdQuietOp(ChatState& state, TTcpSrvClient& client, std::string_view) {
    client.IsOp = true;
    Reply(state, client, " You quietly been given operator status.\r\n");
    LogAction(state, client, " used /op.");
}

void CmdKill(ChatState& state, TTcpSrvClient& client, std::string_view line) {
    // "/kill nick = reason": every "=" from the 7th character (1-based) up to
    // the next-to-last one splits the line into a nickname (ending two
    // characters before it) and a reason (starting two characters after it).
    // Nicknames never hold "=", so only the first one can name a user.
    TTcpSrvClient* victim = nullptr;
    std::string victimReason;
    for (std::size_t i = 6; i + 1 < line.size(); ++i) {
        if (line[i] != '=') continue;
        const std::string_view nick = i > 7 ? line.substr(6, i - 7) : std::string_view{};
        std::string_view reason = i + 2 < line.size() ? line.substr(i + 2) : std::string_view{};
        if (reason.size() > kMaxReason) reason = reason.substr(0, kMaxReason);
        state.clients.ForEachHolderDown(nick, [&](TTcpSrvClient& other) {
            other.SendStr("Closing Link: Killed by " + client.Nick() + " for reason: " + std::string(reason) + "\r\n");
            other.CloseDelayed();
            LogAction(state, client, " used /kill.");
            // The kill notice below is the departure notice.
            other.DepartureAnnounced = true;
            victim = &other;
            victimReason = reason;
        });
    }
    if (victim == nullptr) {
        Reply(state, client, " User is not online.\r\n");
        return;
    }
    state.link.Announce("*** " + victim->Nick() + " was killed by " + client.Nick() + " (" + victimReason + ")");
    const std::string notice = state.settings.Prefix + " " + victim->Nick() + " " + state.settings.Kill + " " +
                               client.Nick() + " (" + victimReason + ")\r\n";
    state.clients.SendDepartureNotice(*victim, notice, ClientList::Departure::kAnnounced);
}

void CmdBan(ChatState& state, TTcpSrvClient& client, std::string_view nick) {
    bool found = false;
    state.clients.ForEachHolderDown(nick, [&](TTcpSrvClient& other) {
        found = true;
        state.settings.Bans.push_back(other.PeerAddr);
        if (BanListChanged(state)) Reply(state, client, " Ban added.  List saved.\r\n");
    });
    if (!found) Reply(state, client, " User is not online.\r\n");
}

void CmdForcedJoin(ChatState& state, TTcpSrvClient& client, std::string_view target) {
    // No check for an empty name, "Chess" or a lock. The channel of those at
    // the nickname prompt is no channel, even for a ChanOP.
    if (IsChoosingNickname(target)) {
        ReplyJoinUsage(state, client);
        return;
    }
    MoveToChannel(state, client, std::string(target));
}

void CmdForcedDeop(ChatState& state, TTcpSrvClient& client, std::string_view nick) {
    TTcpSrvClient* deopped = nullptr;
    state.clients.ForEachHolderDown(nick, [&](TTcpSrvClient& other) {
        if (other.Nick() != nick) return;
        other.IsOp = false;
        deopped = &other;
    });
    if (deopped == nullptr) {
        Reply(state, client, " User is not online.\r\n");
        return;
    }
    const std::string notice =
        state.settings.Prefix + " " + deopped->Nick() + " " + state.settings.Deop + " " + client.Nick() + "\r\n";
    state.clients.SendToExactChannel(deopped->Channel(), notice);
}

}  // namespace qm
