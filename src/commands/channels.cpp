#include "commands/channels.h"

#include <string>

#include "commands/login.h"

namespace qm {

namespace {

// The channel operator's commands act on every user of that nickname (any
// letter case) in exactly the operator's channel. Returns whether there was
// one; when there was none, the operator has been told.
template <typename F>
bool ForEachTarget(ChatState& state, TTcpSrvClient& op, const std::string& channel,
                   std::string_view nick, F&& f) {
    bool found = false;
    state.clients.ForEachHolderDown(nick, [&](TTcpSrvClient& target) {
        if (target.Channel() != channel) return;
        found = true;
        f(target);
    });
    if (!found) Reply(state, op, " User is not online or not on this " + state.settings.Channel + ".\r\n");
    return found;
}

bool RefuseNonOp(const ChatState& state, TTcpSrvClient& client) {
    if (client.IsOp) return false;
    Reply(state, client, " You are not an op.\r\n");
    return true;
}

// /o and /d: the same steps, raising or clearing the flag.
void SetOperator(ChatState& state, TTcpSrvClient& client, std::string_view nick, bool op) {
    if (RefuseNonOp(state, client)) return;
    const std::string channel = client.Channel();
    if (!ForEachTarget(state, client, channel, nick, [&](TTcpSrvClient& target) { target.IsOp = op; }))
        return;
    const std::string target(nick);
    state.link.Announce("*** " + target + (op ? " was opped." : " was deopped."));
    const std::string& word = op ? state.settings.Op : state.settings.Deop;
    state.clients.SendToExactChannel(channel, state.settings.Prefix + " " + target + " " + word + " " + client.Nick() + "\r\n");
}

}  // namespace

void ReplyJoinUsage(const ChatState& state, TTcpSrvClient& client) {
    Reply(state, client, " Usage: /j <" + state.settings.Channel + ">\r\n");
}

void MoveToChannel(ChatState& state, TTcpSrvClient& client, const std::string& target) {
    // Undercover users come and go unannounced, but they still make a
    // channel occupied.
    const Settings& s = state.settings;
    const std::string part = s.Prefix + " " + client.Nick() + " " + s.Part + "\r\n";
    const std::string join = s.Prefix + " " + client.Nick() + " " + s.Join + "\r\n";
    // Each member hears its own notice; one that is in both (a move within
    // the same channel) hears the part before the join.
    if (!client.Undercover) state.clients.SendToChannel(client.Channel(), part);
    bool occupied = false;
    state.clients.ForEachMemberDown(target, [&](TTcpSrvClient& member) {
        if (!client.Undercover) member.SendStr(join);
        occupied = true;
    });
    // The first to enter a channel runs it; the main channel has no operators.
    // Anyone else keeps the operator status they had.
    if (EqualsIgnoreCase(target, s.MainC))
        client.IsOp = false;
    else if (!occupied)
        client.IsOp = true;
    client.ChannelLocked = false;
    client.SetChannel(target);
}

void CmdJoin(ChatState& state, TTcpSrvClient& client, std::string_view argument) {
    const std::string name(argument);
    if (name.empty() || IsChoosingNickname(name) || name == "Chess") {
        ReplyJoinUsage(state, client);
        return;
    }
    if (name == kBridgedChannel)
        Reply(state, client,
              " Commands for IRC: /v <nick> - Gives/Removes the ability to speak to others on IRC (if you are "
              "an op).\r\n/stat - IRC status\r\n/im <nick> <message> - Send a private message to a person on "
              "IRC.\r\n");

    bool locked = false;
    state.clients.ForEachMemberDown(name, [&](const TTcpSrvClient& other) { locked = locked || other.ChannelLocked; });
    if (locked) {
        Reply(state, client, " Access to this " + state.settings.Channel + " is not allowed.\r\n");
        return;
    }

    if (name == kBridgedChannel) state.link.Announce("*** " + client.Nick() + " has joined.");
    if (client.Channel() == kBridgedChannel) state.link.Announce("*** " + client.Nick() + " has left.");

    MoveToChannel(state, client, name);
}

void CmdNick(ChatState& state, TTcpSrvClient& client, std::string_view line) {
    // "/n name": the third character separates and is not examined, but an
    // "=" anywhere in the line refuses it.
    const std::string_view argument = line.size() > 3 ? line.substr(3) : std::string_view{};
    if (line.find('=') != std::string_view::npos) {
        Reply(state, client, " You may NOT have an = sign in your nick.  You may have any other character.\r\n");
        return;
    }
    if (argument.empty()) {
        Reply(state, client, " Useage: /n <nickname>\r\n");
        return;
    }
    const std::string name(argument.substr(0, kMaxNickLength));
    if (NicknameInUse(state, name) || IsChoosingNickname(name)) {
        Reply(state, client, " That nickname is in use.  Try another.\r\n");
        return;
    }
    if (const int record = state.users.FindUserRecord(name); record >= 0) {
        AskNickChangePassword(state, client, record);
        return;
    }

    const std::string old = client.Nick();
    state.link.Announce("*** " + old + " is now known as " + name);
    // Members still without a nickname (a game client naming itself) never
    // heard of the old name: for them this is the newcomer's arrival.
    const std::string renamed = state.settings.Prefix + " " + old + " is now known as " + name + "\r\n";
    const std::string arrived = state.settings.Prefix + " " + name + " " + state.settings.Join + "\r\n";
    state.clients.ForEachMemberDown(client.Channel(), [&](TTcpSrvClient& member) {
        member.SendStr(member.Nick() == kChoosingNickname ? arrived : renamed);
    });
    state.online.Rename(old, name);
    client.SetNick(name);
}

void CmdOp(ChatState& state, TTcpSrvClient& client, std::string_view argument) {
    SetOperator(state, client, argument, true);
}

void CmdDeop(ChatState& state, TTcpSrvClient& client, std::string_view argument) {
    SetOperator(state, client, argument, false);
}

void CmdKick(ChatState& state, TTcpSrvClient& client, std::string_view argument) {
    if (RefuseNonOp(state, client)) return;
    // Taken before the walk: an operator may kick itself out of the channel.
    const std::string channel = client.Channel();
    const std::string& main = state.settings.MainC;
    const bool found = ForEachTarget(state, client, channel, argument, [&](TTcpSrvClient& target) {
        target.SetChannel(main);
        Reply(state, target, " You've been kicked.  Sending you to main area.\r\n");
        target.ChannelLocked = false;
        target.IsOp = false;
    });
    if (!found) return;
    const std::string target(argument);
    const std::string kicked = state.settings.Prefix + " " + target + " " + state.settings.Kick + " " + client.Nick() + "\r\n";
    const std::string arrived = state.settings.Prefix + " " + target + " " + state.settings.Join + "\r\n";
    // A member is in one channel; where the two names are the same, each
    // member hears the kick before the arrival, as in one walk.
    state.clients.ForEachMemberDown(channel, [&](TTcpSrvClient& member) {
        if (member.Channel() == channel) member.SendStr(kicked);
    });
    state.clients.ForEachMemberDown(main, [&](TTcpSrvClient& member) {
        if (member.Channel() == main) member.SendStr(arrived);
    });
}

void CmdLock(ChatState& state, TTcpSrvClient& client, std::string_view) {
    if (RefuseNonOp(state, client)) return;
    // Every member flips its own flag, so the channel stays locked while any
    // member still carries it.
    const std::string locked = state.settings.Prefix + " " + client.Nick() + " has locked this " + state.settings.Channel + ".\r\n";
    const std::string unlocked = state.settings.Prefix + " " + client.Nick() + " has unlocked this " + state.settings.Channel + ".\r\n";
    const std::string channel = client.Channel();
    state.clients.ForEachMemberDown(channel, [&](TTcpSrvClient& member) {
        member.ChannelLocked = !member.ChannelLocked;
        member.SendStr(member.ChannelLocked ? locked : unlocked);
    });
}

void CmdWall(ChatState& state, TTcpSrvClient& client, std::string_view text) {
    if (RefuseNonOp(state, client)) return;
    const std::string line = "All ops <" + client.Nick() + "> " + std::string(text) + "\r\n";
    state.clients.ForEachMemberDown(client.Channel(), [&](TTcpSrvClient& member) {
        if (member.IsOp) member.SendStr(line);
    });
}

void CmdVoice(ChatState& state, TTcpSrvClient& client, std::string_view argument) {
    // Only the operators of the linked channel decide who speaks on IRC.
    if (!client.IsOp || client.Channel() != kBridgedChannel) {
        Reply(state, client, " You are not an op.\r\n");
        return;
    }
    ForEachTarget(state, client, client.Channel(), argument, [&](TTcpSrvClient& target) {
        target.HasIrcVoice = !target.HasIrcVoice;
        Reply(state, target,
              target.HasIrcVoice ? " Your voice for the IRC link has been reissued.\r\n"
                                 : " You have lost your voice for the IRC link.\r\n");
    });
}

}  // namespace qm
