// What the client does with each line the server sends.
#include <charconv>
#include <ctime>
#include <optional>
#include <span>

#include "irc/ctcp.h"
#include "irc/irc_client.h"
#include "irc/irc_numerics.h"
#include "storage/ascii.h"

namespace qm {

struct TIRCClient::CommandRow {
    std::string_view command;  // matched case-sensitively
    void (TIRCClient::*handle)(const IrcMessage&, TUser&);
};

const TIRCClient::CommandRow TIRCClient::kCommands[] = {
    {"PRIVMSG", &TIRCClient::HandlePrivmsg}, {"NOTICE", &TIRCClient::HandleNotice},
    {"JOIN", &TIRCClient::HandleJoin},       {"PART", &TIRCClient::HandlePart},
    {"KICK", &TIRCClient::HandleKick},       {"MODE", &TIRCClient::HandleMode},
    {"NICK", &TIRCClient::HandleNick},       {"QUIT", &TIRCClient::HandleQuit},
    {"INVITE", &TIRCClient::HandleInvite},   {"KILL", &TIRCClient::HandleKill},
    {"PING", &TIRCClient::HandlePing},       {"WALLOPS", &TIRCClient::HandleWallops},
};

namespace {

// Error replies run from 401 to 502; 432 (erroneous nickname) and 433 (nick
// in use) during registration make the client try its next nick.
constexpr int kFirstError = 401, kLastError = 502;
constexpr int kErroneousNick = 432, kNickInUse = 433;

// The mode arguments of a line: the parameters from `slot` on.
std::span<const std::string> ParamsFrom(const IrcMessage& msg, std::size_t slot) {
    return std::span<const std::string>(msg.tokens).subspan(std::min(slot, IrcMessage::kSlots));
}

bool IsChannelName(std::string_view name) { return name.starts_with('#') || name.starts_with('&'); }

std::string LocalTimeText() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[128];
    const std::size_t length = std::strftime(text, sizeof text, "%x %X", &local);
    return std::string(text, length);
}

}  // namespace

void TIRCClient::HandleLine(const IrcMessage& msg) {
    // The server shows others this client's prefix; learning it lets long
    // texts be cut to what fits (see SendText).
    if (!msg.senderAddress.empty() && !msg.senderNick.empty() && EqualsIgnoreCase(msg.senderNick, currentNick_))
        ownAddress_ = msg.senderAddress;

    const TUserRef user = users_.Add(msg.senderNick, msg.senderAddress);
    bool suppress = false;
    Events().OnRaw(user.get(), msg.command, msg.rest, suppress);
    if (suppress) return;

    if (IsNumericCommand(msg.command)) {
        int numeric = 0;
        std::from_chars(msg.command.data(), msg.command.data() + msg.command.size(), numeric);
        HandleNumeric(numeric, msg, *user);
        return;
    }
    for (const CommandRow& row : kCommands) {
        if (row.command == msg.command) {
            (this->*row.handle)(msg, *user);
            return;
        }
    }
    Events().OnUnknownCommand(user.get(), msg.command, msg.rest);
}

void TIRCClient::HandleNumeric(int numeric, const IrcMessage& msg, TUser& user) {
    auto system = [&] {
        if (const auto reply = DescribeSystemReply(numeric, msg))
            Events().OnSystem(&user, reply->category, reply->text);
    };
    if (numeric >= 1 && numeric <= 4) {
        server_ = msg.senderAddress;
        SetState(csConnected);
        system();
    } else if (numeric == 375) {
        SetState(csConnected);
        system();
    } else if (numeric == 301) {
        Events().OnAway(&user);
    } else if (numeric == 305 || numeric == 306) {
        away_ = numeric == 306;
        away_ ? Events().OnNowAway() : Events().OnUnAway();
    } else if (numeric == 324) {
        if (const TChannelRef channel = channels_.Get(msg.Param(3)))
            channel->ApplyModeChange(&user, msg.Param(4), ParamsFrom(msg, 5), users_, Events());
    } else if (numeric == 331) {
        if (const TChannelRef channel = channels_.Get(msg.Param(3))) {
            channel->TopicChanged({});
            Events().OnNoTopic(channel.get());
        }
    } else if (numeric == 332) {
        if (const TChannelRef channel = channels_.Get(msg.Param(3))) {
            channel->TopicChanged(msg.Param(4));
            Events().OnTopic(&user, channel.get());
        }
    } else if (numeric == 341) {
        Events().OnInviting(msg.Param(2), msg.Param(3));
    } else if (numeric == 353) {
        system();
        if (const TChannelRef channel = channels_.Get(msg.Param(4))) channel->NamesAdded(msg.Param(5), users_);
    } else if (numeric >= kFirstError && numeric <= kLastError) {
        Events().OnError(&user, msg.command, msg.rest);
        if ((numeric == kNickInUse || numeric == kErroneousNick) && state_ == csLoggingOn) NickInUse();
    } else if (const auto reply = DescribeSystemReply(numeric, msg)) {
        Events().OnSystem(&user, reply->category, reply->text);
    } else {
        Events().OnUnknownCommand(&user, msg.command, msg.rest);
    }
}

// Registration tries Nick, then AltNick, then whatever OnNicksInUse offers;
// with nothing left the connection is dropped.
void TIRCClient::NickInUse() {
    if (currentNick_ == nick_ && altNick_ != nick_) {
        currentNick_ = altNick_;
    } else if (currentNick_ == altNick_) {
        std::string offered = currentNick_;
        currentNick_ = Events().OnNicksInUse(offered) ? offered : std::string();
    }
    if (!currentNick_.empty())
        Raw("NICK " + currentNick_);
    else
        Disconnect(true);
}

void TIRCClient::HandlePrivmsg(const IrcMessage& msg, TUser& user) {
    if (IsCtcp(msg.Param(3))) {
        HandleCtcpQuery(msg, user);
        return;
    }
    const TChannelRef channel = channels_.Get(msg.Param(2));
    Events().OnMessage(&user, channel.get(), msg.Param(3));
}

void TIRCClient::HandleNotice(const IrcMessage& msg, TUser& user) {
    const TChannelRef channel = channels_.Get(msg.Param(2));
    if (!IsCtcp(msg.Param(3))) {
        Events().OnNotice(&user, channel.get(), msg.Param(3));
        return;
    }
    const CtcpText ctcp = SplitCtcp(msg.Param(3));
    if (ctcp.command != "DCC") Events().OnCTCPReply(&user, channel.get(), ctcp.command, ctcp.args);
}

void TIRCClient::HandleCtcpQuery(const IrcMessage& msg, TUser& user) {
    const CtcpText ctcp = SplitCtcp(msg.Param(3));
    const TChannelRef channel = channels_.Get(msg.Param(2));
    if (ctcp.command == "DCC") return;
    if (ctcp.command == "ACTION") {
        Events().OnAction(&user, channel.get(), ctcp.args);
        return;
    }
    bool suppress = false;
    Events().OnCTCPQuery(&user, channel.get(), ctcp.command, ctcp.args, suppress);
    if (suppress || user.Nick.empty()) return;

    std::optional<std::string> answer;
    if (ctcp.command == "PING") answer = ctcp.args;
    else if (ctcp.command == "FINGER") answer = replies_.Finger;
    else if (ctcp.command == "USERINFO") answer = replies_.UserInfo;
    else if (ctcp.command == "VERSION") answer = replies_.Version;
    else if (ctcp.command == "CLIENTINFO") answer = replies_.ClientInfo;
    else if (ctcp.command == "TIME") answer = "Local time is " + LocalTimeText();
    if (answer) CTCPReply(user.Nick, ctcp.command, *answer);
}

void TIRCClient::HandleJoin(const IrcMessage& msg, TUser& user) {
    const std::string& name = msg.Param(2);
    if (msg.senderNick != currentNick_) {
        if (const TChannelRef channel = channels_.Get(name)) {
            channel->MemberJoined(&user);
            Events().OnJoin(&user, channel.get());
        }
        return;
    }
    const TChannelRef channel = channels_.Add(*this, name, Events());
    channel->Open();
    Mode(name, {}, {});
    Events().OnJoined(channel.get());
}

void TIRCClient::HandlePart(const IrcMessage& msg, TUser& user) {
    user.LastMessage = msg.Param(3);
    const TChannelRef channel = channels_.Get(msg.Param(2));
    if (!channel) return;
    if (msg.senderNick != currentNick_) {
        channel->MemberParted(&user);
        Events().OnPart(&user, channel.get());
        return;
    }
    channel->Close(ctPart);
    Events().OnParted(channel.get());
    channels_.Remove(channel->Name());
}

void TIRCClient::HandleKick(const IrcMessage& msg, TUser& user) {
    user.LastMessage = msg.Param(4);
    const TChannelRef channel = channels_.Get(msg.Param(2));
    if (!channel) return;
    if (msg.Param(3) != currentNick_) {
        const TUserRef victim = users_.Add(msg.Param(3), {});
        victim->LastMessage = msg.Param(4);
        Events().OnKick(&user, victim.get(), channel.get());
        channel->MemberKicked(victim.get());
        return;
    }
    channel->Close(ctKick);
    Events().OnKicked(&user, channel.get());
    channels_.Remove(channel->Name());
}

void TIRCClient::HandleMode(const IrcMessage& msg, TUser& user) {
    const std::string& target = msg.Param(2);
    if (IsChannelName(target)) {
        if (const TChannelRef channel = channels_.Get(target)) {
            Events().OnChannelMode(&user, channel.get(), msg.Param(3));
            channel->ApplyModeChange(&user, msg.Param(3), ParamsFrom(msg, 4), users_, Events());
        }
    } else if (EqualsIgnoreCase(target, currentNick_)) {
        Events().OnUserMode();
        if (ApplyUserModeLetters(userMode_, msg.Param(3))) Events().OnUserModeChanged();
    }
}

void TIRCClient::HandleNick(const IrcMessage& msg, TUser& user) {
    const std::string& newNick = msg.Param(2);
    if (msg.senderNick != currentNick_) {
        Events().OnNickChange(&user, newNick);
    } else {
        currentNick_ = newNick;
        Events().OnNickChanged();
    }
    channels_.ChangedNick(&user, newNick);
    users_.Nick(user.Nick, newNick);
}

void TIRCClient::HandleQuit(const IrcMessage& msg, TUser& user) {
    user.LastMessage = msg.Param(2);
    Events().OnQuit(&user);
    channels_.Quit(&user);
}

void TIRCClient::HandleInvite(const IrcMessage& msg, TUser& user) { Events().OnInvite(&user, msg.Param(2)); }

void TIRCClient::HandleKill(const IrcMessage& msg, TUser& user) {
    Events().OnKill(&user, msg.Param(2), msg.Param(3));
}

void TIRCClient::HandlePing(const IrcMessage& msg, TUser&) {
    SendNow("PONG :" + msg.Param(2));
    Events().OnPingPong();
}

void TIRCClient::HandleWallops(const IrcMessage& msg, TUser& user) { Events().OnWallops(&user, msg.Param(2)); }

}  // namespace qm
