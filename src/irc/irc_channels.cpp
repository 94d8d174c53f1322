#include "irc/irc_channels.h"

#include <algorithm>

#include "irc/irc_client.h"
#include "irc/irc_events.h"
#include "storage/ascii.h"

namespace qm {

namespace {
// A channel keeps at most this many members: a hostile server must not
// grow the link's memory without bound.
constexpr std::size_t kMaxMembers = 50000;
constexpr std::size_t kMaxChannels = 1000;
}  // namespace

void TChannel::Say(std::string_view text) { owner_.Say(name_, text); }
void TChannel::Part(std::string_view reason) { owner_.Part(name_, reason); }
void TChannel::Kick(std::string_view nick, std::string_view reason) { owner_.Kick(name_, nick, reason); }
void TChannel::SetTopic(std::string_view topic) { owner_.SetTopic(name_, topic); }

void TChannel::Close(TCloseType why) {
    active_ = false;
    closeType_ = why;
}

void TChannel::Update(TChannelUpdateType type, const TUser* user, int info) {
    events_.OnChannelUpdate(this, type, user, info);
}

int TChannel::MemberIndex(std::string_view nick) const {
    const auto it = std::find_if(members_.begin(), members_.end(),
                                 [nick](const TChannelMember& m) { return EqualsIgnoreCase(m.nick, nick); });
    return it == members_.end() ? -1 : static_cast<int>(it - members_.begin());
}

void TChannel::TopicChanged(std::string topic) {
    topic_ = std::move(topic);
    Update(cuTopic, nullptr, 0);
}

void TChannel::NamesAdded(std::string_view names, TUsers& users) {
    while (!names.empty()) {
        const std::size_t blank = names.find(' ');
        std::string_view name = names.substr(0, blank);
        names = blank == std::string_view::npos ? std::string_view{} : names.substr(blank + 1);

        int flags = 0;
        if (name.starts_with('@')) {
            flags |= TChannelMember::kOperator;
            name.remove_prefix(1);
            if (name.ends_with('+')) {
                flags |= TChannelMember::kVoice;
                name.remove_suffix(1);
            }
        }
        if (name.starts_with('+')) {
            flags |= TChannelMember::kVoice;
            name.remove_prefix(1);
        }
        if (name.empty() || HasUser(name) || members_.size() >= kMaxMembers) continue;
        users.Keep(users.Add(name, {}));
        members_.push_back({std::string(name), flags});
        memberKeys_.insert(FoldAscii(name));
    }
    Update(cuNames, nullptr, 0);
}

void TChannel::MemberJoined(const TUser* user) {
    if (!user || HasUser(user->Nick) || members_.size() >= kMaxMembers) return;
    members_.push_back({user->Nick, 0});
    memberKeys_.insert(FoldAscii(user->Nick));
    Update(cuJoin, user, static_cast<int>(members_.size()) - 1);
}

void TChannel::MemberLeft(const TUser* user, TChannelUpdateType type) {
    if (!user) return;
    const int index = MemberIndex(user->Nick);
    if (index < 0) return;
    Update(type, user, index);
    // The handler may have changed the list; look the member up again.
    const int now = MemberIndex(user->Nick);
    if (now < 0) return;
    memberKeys_.erase(FoldAscii(members_[now].nick));
    members_.erase(members_.begin() + now);
}

void TChannel::MemberNickChanged(const TUser* user, std::string_view newNick) {
    if (!user) return;
    const int index = MemberIndex(user->Nick);
    if (index < 0) return;
    memberKeys_.erase(FoldAscii(members_[index].nick));
    members_[index].nick = newNick;
    memberKeys_.insert(FoldAscii(newNick));
    Update(cuNick, user, index);
}

void TChannel::SetMemberFlag(TUser* user, int flag, bool on) {
    if (!user) return;
    const int index = MemberIndex(user->Nick);
    if (index < 0) return;
    int& flags = members_[index].flags;
    flags = on ? (flags | flag) : (flags & ~flag);
    Update(cuUser, user, flags);
}

TChannelRef TChannels::Add(TIRCClient& owner, std::string_view name, IrcClientEvents& events) {
    Remove(name);
    // Only a hostile server says the client joined this many: the oldest go.
    if (channels_.size() >= kMaxChannels) channels_.erase(channels_.begin());
    channels_.push_back(std::make_shared<TChannel>(owner, std::string(name), events));
    return channels_.back();
}

void TChannels::Remove(std::string_view name) {
    std::erase_if(channels_, [name](const TChannelRef& c) { return EqualsIgnoreCase(c->Name(), name); });
}

TChannelRef TChannels::Get(std::string_view name) const {
    const auto it = std::find_if(channels_.begin(), channels_.end(),
                                 [name](const TChannelRef& c) { return EqualsIgnoreCase(c->Name(), name); });
    return it == channels_.end() ? nullptr : *it;
}

// Both walk a copy: an update handler may join, part or reconnect.
void TChannels::ChangedNick(const TUser* user, std::string_view newNick) {
    for (const TChannelRef& channel : std::vector(channels_)) channel->MemberNickChanged(user, newNick);
}

void TChannels::Quit(const TUser* user) {
    for (const TChannelRef& channel : std::vector(channels_)) channel->MemberQuit(user);
}

}  // namespace qm
