#include "commands/operator_actions.h"

#include <memory>

#include "storage/text_file.h"

namespace qm {

namespace {

bool TTcpSrvClient::*RoleFlag(Role role) {
    switch (role) {
        case Role::kServOp: return &TTcpSrvClient::IsServOp;
        case Role::kChanOp: return &TTcpSrvClient::IsChanOp;
        case Role::kSpy: break;
    }
    return &TTcpSrvClient::IsSpy;
}

// The console's own wording, which differs from the /=sop, /=cop and /=spy
// texts: "You have been", and the fixed word "channel".
std::string PromotionText(const Settings& s, Role role) {
    switch (role) {
        case Role::kServOp:
            return " You have been promoted to " + s.ServOP +
                   "\r\nCommands: /kill <nick> = <reason> Removes <nick> from the server.\r\n"
                   "/ban <nick> Adds <nick> to the server's ban list.\r\n"
                   "/on <message> Sends a notice to every " +
                   s.ServOP + "s\r\n";
        case Role::kChanOp:
            return " You have been promoted to " + s.ChanOP +
                   "\r\nCommands: /join <channel> Joins a channel even if it is locked.\r\n"
                   "/op Give yourself ops quietly.\r\n"
                   "/deop <nick> Deop even if you are not in the channel or an operator.\r\n"
                   "/cn <message> Sends a notice to all " +
                   s.ChanOP + "s\r\n";
        case Role::kSpy: break;
    }
    return " You have been promoted to spy.\r\nCommands: /under Enables/disables undercover mode.\r\n"
           "/sn <message> Sends notice to all spies.\r\n"
           "In undercover mode you can not appear on a /who or /names list.  You can join and leave a "
           "channel quietly.\r\n";
}

std::string RemovalText(const Settings& s, Role role) {
    switch (role) {
        case Role::kServOp: return " You have been removed of your " + s.ServOP + " status by the admin.\r\n";
        case Role::kChanOp: return " You have been removed of your " + s.ChanOP + " status by the admin.\r\n";
        case Role::kSpy: break;
    }
    return " You have been removed of your spy status by the admin.\r\n";
}

std::optional<bool> YesNo(const std::string& line) {
    if (line == "Y") return true;
    if (line == "N") return false;
    return std::nullopt;
}

}  // namespace

bool BanListChanged(ChatState& state) {
    if (state.bansChanged) state.bansChanged(state.settings.Bans);
    try {
        SaveBans(state.dataDir, state.settings);
        return true;
    } catch (const FileError& e) {
        // The ban list holds in memory; the operator learns that the file is stale.
        state.reportError(e.what());
        return false;
    }
}

std::optional<RoleFlags> ConnectedRolesOf(const ChatState& state, std::string_view nick) {
    std::optional<RoleFlags> roles;
    state.clients.ForEachHolderDown(nick, [&](const TTcpSrvClient& client) {
        if (client.Nick() == nick) roles = RoleFlags{client.IsServOp, client.IsChanOp, client.IsSpy};
    });
    return roles;
}

void SetConnectedRole(ChatState& state, std::string_view nick, Role role, bool on) {
    bool TTcpSrvClient::*flag = RoleFlag(role);
    state.clients.ForEachHolderDown(nick, [&](TTcpSrvClient& client) {
        if (client.Nick() != nick || client.*flag == on) return;
        client.*flag = on;
        Reply(state, client, on ? PromotionText(state.settings, role) : RemovalText(state.settings, role));
    });
}

void KillByOperator(ChatState& state, std::string_view nick, std::string_view reason) {
    TTcpSrvClient* victim = nullptr;
    const std::string closing = "Closing Link: Killed by the admin for reason: " + std::string(reason) + "\r\n";
    state.clients.ForEachHolderDown(nick, [&](TTcpSrvClient& client) {
        client.SendStr(closing);
        client.CloseDelayed();
        victim = &client;
    });
    if (victim == nullptr) return;
    // The victim's own disconnect still brings the ordinary departure
    // notices; this one tells the channel who did it.
    const Settings& s = state.settings;
    const std::string notice = s.Prefix + " " + victim->Nick() + " " + s.Kill + " the admin. (" + std::string(reason) + ")\r\n";
    state.clients.SendDepartureNotice(*victim, notice, ClientList::Departure::kAnnounced);
}

void BanByOperator(ChatState& state, std::string_view nick) {
    bool found = false;
    state.clients.ForEachHolderDown(nick, [&](TTcpSrvClient& client) {
        if (client.Nick() != nick) return;
        state.settings.Bans.push_back(client.PeerAddr);
        found = true;
    });
    if (found) BanListChanged(state);
}

void AppendBan(ChatState& state, std::string entry) {
    state.settings.Bans.push_back(std::move(entry));
    BanListChanged(state);
}

void RemoveBanAt(ChatState& state, std::size_t index) {
    auto& bans = state.settings.Bans;
    if (index >= bans.size()) return;
    bans.erase(bans.begin() + static_cast<std::ptrdiff_t>(index));
    BanListChanged(state);
}

std::vector<std::string> RegisteredNicks(const ChatState& state) {
    std::vector<std::string> nicks;
    const auto& lines = state.users.Lines();
    for (std::size_t i = 0; i < lines.size(); i += UserDatabase::kRecordLines) nicks.push_back(lines[i]);
    return nicks;
}

std::optional<RecordRoles> StoredRolesOf(const ChatState& state, std::string_view nick) {
    // The editor names records exactly as it listed them.
    const int index = state.users.FindUserRecord(nick);
    if (index < 0 || state.users.RecordLine(index, UserDatabase::kNick) != nick) return std::nullopt;
    return RecordRoles{YesNo(state.users.RecordLine(index, UserDatabase::kServOp)),
                       YesNo(state.users.RecordLine(index, UserDatabase::kChanOp)),
                       YesNo(state.users.RecordLine(index, UserDatabase::kSpy))};
}

namespace {

// Every record whose nickname line is `nick` exactly, not only the first:
// a file edited by hand may hold the same nickname twice.
template <typename Visit>
bool ForEachRecordOf(UserDatabase& users, std::string_view nick, Visit visit) {
    bool found = false;
    const auto& lines = users.Lines();
    for (std::size_t i = 0; i < lines.size(); i += UserDatabase::kRecordLines) {
        if (lines[i] != nick) continue;
        found = true;
        visit(static_cast<int>(i));
    }
    return found;
}

bool WriteRecordLines(UserDatabase& users, std::string_view nick, const std::string& stored, RoleFlags roles) {
    const auto yesNo = [](bool on) { return std::string(on ? "Y" : "N"); };
    return ForEachRecordOf(users, nick, [&](int index) {
        if (!stored.empty()) users.SetRecordLine(index, UserDatabase::kPassword, stored);
        users.SetRecordLine(index, UserDatabase::kServOp, yesNo(roles.servOp));
        users.SetRecordLine(index, UserDatabase::kChanOp, yesNo(roles.chanOp));
        users.SetRecordLine(index, UserDatabase::kSpy, yesNo(roles.spy));
    });
}

}  // namespace

void WriteUserRecord(ChatState& state, std::string nick, std::string password, RoleFlags roles,
                     std::function<void(bool written)> done) {
    if (password.empty()) {
        done(WriteRecordLines(state.users, nick, {}, roles));
        return;
    }
    // The record is looked up again when the hash is back: it may have
    // changed or gone meanwhile.
    auto finish = std::make_shared<std::function<void(bool)>>(std::move(done));
    const bool queued = state.passwords.Hash(std::move(password), [&state, nick = std::move(nick), roles,
                                                                   finish](std::string stored) {
        (*finish)(!stored.empty() && WriteRecordLines(state.users, nick, stored, roles));
    });
    if (!queued) (*finish)(false);
}

}  // namespace qm
