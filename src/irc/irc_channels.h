#pragma once
// The IRC channels the client has joined: topic, modes, key, limit and
// members, kept up to date from the server's lines.
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "irc/irc_modes.h"
#include "irc/irc_users.h"
#include "storage/ascii.h"

namespace qm {

class TIRCClient;
class IrcClientEvents;

// Why a channel record was closed.
enum TCloseType : std::uint8_t { ctReset, ctPart, ctKick };

// What changed in a channel (the `info` of OnChannelUpdate: the member's new
// flags for cuUser, the member's index for cuNick, cuJoin, cuPart, cuKick and
// cuQuit, else 0).
enum TChannelUpdateType : std::uint8_t { cuMode, cuTopic, cuUser, cuNames, cuNick, cuJoin, cuPart, cuKick, cuQuit };

struct TChannelMember {
    static constexpr int kOperator = 1;
    static constexpr int kVoice = 2;
    std::string nick;
    int flags = 0;
};

class TChannel {
public:
    // `events` receives this channel's updates (OnChannelUpdate) for the
    // record's whole life.
    TChannel(TIRCClient& owner, std::string name, IrcClientEvents& events)
        : owner_(owner), events_(events), name_(std::move(name)) {}

    const std::string& Name() const { return name_; }
    const std::string& Topic() const { return topic_; }
    TChannelModes Modes() const { return modes_; }
    int Limit() const { return limit_; }
    const std::string& Key() const { return key_; }
    const std::vector<TChannelMember>& Members() const { return members_; }
    bool Active() const { return active_; }
    TCloseType CloseType() const { return closeType_; }
    bool HasUser(std::string_view nick) const { return memberKeys_.contains(FoldAscii(nick)); }
    // "+" and the set mode letters, then " <limit>" and " <key>" when set;
    // empty with no modes.
    std::string GetModeString() const;

    // Operations for applications; they go to the server through the owner.
    void Say(std::string_view text);
    void Part(std::string_view reason);
    void Kick(std::string_view nick, std::string_view reason);
    void SetTopic(std::string_view topic);
    // "MODE <channel> +o <nick>" and so on, at once or inside a batch.
    void Op(std::string_view nick) { ModeChange('+', 'o', nick); }
    void Deop(std::string_view nick) { ModeChange('-', 'o', nick); }
    void Voice(std::string_view nick) { ModeChange('+', 'v', nick); }
    void Devoice(std::string_view nick) { ModeChange('-', 'v', nick); }
    void Ban(std::string_view mask) { ModeChange('+', 'b', mask); }
    void Unban(std::string_view mask) { ModeChange('-', 'b', mask); }
    // Collects the changes above into one MODE line, sent by EndMode.
    void BeginMode();
    void EndMode();

    // Updates from the server's lines, applied by the client.
    void Open() { active_ = true; }
    void Close(TCloseType why);
    void TopicChanged(std::string topic);
    // Adds the blank-separated names of a names reply ("@" operator, "+"
    // voice, "@nick+" both); every new member is kept in `users`.
    void NamesAdded(std::string_view names, TUsers& users);
    void MemberJoined(const TUser* user);
    void MemberParted(const TUser* user) { MemberLeft(user, cuPart); }
    void MemberKicked(const TUser* user) { MemberLeft(user, cuKick); }
    void MemberQuit(const TUser* user) { MemberLeft(user, cuQuit); }
    void MemberNickChanged(const TUser* user, std::string_view newNick);
    // Applies the letters of a channel MODE line (or mode reply) with their
    // arguments, raising OnOp, OnBan and the like on `events` for the acting
    // user.
    void ApplyModeChange(TUser* actor, std::string_view letters, std::span<const std::string> args,
                         const TUsers& users, IrcClientEvents& events);

private:
    int MemberIndex(std::string_view nick) const;
    void MemberLeft(const TUser* user, TChannelUpdateType type);
    void SetMemberFlag(TUser* user, int flag, bool on);
    void ModeChange(char sign, char letter, std::string_view arg);
    void Update(TChannelUpdateType type, const TUser* user, int info);

    TIRCClient& owner_;
    IrcClientEvents& events_;
    std::string name_;
    std::string topic_;
    TChannelModes modes_;
    int limit_ = 0;
    std::string key_;
    std::vector<TChannelMember> members_;
    // The members' nicks folded, so that a names reply of thousands of
    // names costs one lookup per name.
    std::unordered_set<std::string> memberKeys_;
    bool active_ = false;
    TCloseType closeType_ = ctReset;
    bool batching_ = false;
    std::string pendingModes_;
    std::string pendingParams_;
    char lastSign_ = 0;
};

using TChannelRef = std::shared_ptr<TChannel>;

// The joined channels, found by name ignoring letter case. Records are shared
// so that a line being handled keeps its channel even if a handler empties
// the table.
class TChannels {
public:
    // A fresh record; one of the same name is replaced.
    TChannelRef Add(TIRCClient& owner, std::string_view name, IrcClientEvents& events);
    void Remove(std::string_view name);
    TChannelRef Get(std::string_view name) const;
    void Clear() { channels_.clear(); }
    std::size_t Count() const { return channels_.size(); }
    // Passes a rename or a quit to every channel.
    void ChangedNick(const TUser* user, std::string_view newNick);
    void Quit(const TUser* user);

private:
    std::vector<TChannelRef> channels_;
};

}  // namespace qm
