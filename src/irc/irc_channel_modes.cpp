// The mode side of a channel: reading the server's mode changes, and building
// the ones an application sends.
#include <charconv>

#include "irc/irc_channels.h"
#include "irc/irc_client.h"
#include "irc/irc_events.h"

namespace qm {

std::string TChannel::GetModeString() const {
    if (modes_.Empty()) return {};
    std::string text = "+";
    for (std::size_t bit = 0; bit < kChannelModeLetters.size(); ++bit)
        if (modes_.Has(static_cast<TChannelMode>(bit))) text += kChannelModeLetters[bit];
    if (modes_.Has(cmUserLimit)) text += " " + std::to_string(limit_);
    if (modes_.Has(cmKey)) text += " " + key_;
    return text;
}

void TChannel::ApplyModeChange(TUser* actor, std::string_view letters, std::span<const std::string> args,
                               const TUsers& users, IrcClientEvents& events) {
    static const std::string kNoArgument;
    std::size_t nextArg = 0;
    auto next = [&]() -> const std::string& { return nextArg < args.size() ? args[nextArg++] : kNoArgument; };
    // Held, not just pointed at: an event handler may empty the user table.
    auto userFor = [&](const std::string& nick) { return nick.empty() ? nullptr : users.Hold(nick); };

    TChannelModes modes = modes_;
    bool plus = true;
    for (char c : letters) {
        const std::size_t simple = kChannelModeLetters.substr(0, cmUserLimit).find(c);
        if (c == '+' || c == '-') {
            plus = c == '+';
        } else if (simple != std::string_view::npos) {
            modes.Set(static_cast<TChannelMode>(simple), plus);
        } else if (c == 'k') {
            modes.Set(cmKey, plus);
            // "-k" names the key it removes; that argument is used up either way.
            const std::string& key = next();
            key_ = plus ? key : std::string();
            Update(cuMode, nullptr, 0);
        } else if (c == 'l') {
            modes.Set(cmUserLimit, plus);
            limit_ = 0;
            if (plus) {
                const std::string& arg = next();
                std::from_chars(arg.data(), arg.data() + arg.size(), limit_);
            }
            Update(cuMode, nullptr, 0);
        } else if (c == 'o' || c == 'v') {
            const TUserRef target = userFor(next());
            if (c == 'o') {
                plus ? events.OnOp(actor, this, target.get()) : events.OnDeop(actor, this, target.get());
                SetMemberFlag(target.get(), TChannelMember::kOperator, plus);
            } else {
                plus ? events.OnVoice(actor, this, target.get()) : events.OnDevoice(actor, this, target.get());
                SetMemberFlag(target.get(), TChannelMember::kVoice, plus);
            }
        } else if (c == 'b') {
            const std::string& mask = next();
            plus ? events.OnBan(actor, this, mask) : events.OnUnban(actor, this, mask);
        }
    }
    if (modes != modes_) {
        modes_ = modes;
        Update(cuMode, nullptr, 0);
    }
}

void TChannel::ModeChange(char sign, char letter, std::string_view arg) {
    if (!batching_) {
        owner_.Mode(name_, std::string{sign, letter}, arg);
        return;
    }
    if (lastSign_ != sign) {
        pendingModes_ += sign;
        lastSign_ = sign;
    }
    pendingModes_ += letter;
    if (!pendingParams_.empty()) pendingParams_ += ' ';
    pendingParams_ += arg;
}

void TChannel::BeginMode() {
    pendingModes_.clear();
    pendingParams_.clear();
    lastSign_ = 0;
    batching_ = true;
}

void TChannel::EndMode() {
    if (!pendingModes_.empty()) owner_.Mode(name_, pendingModes_, pendingParams_);
    batching_ = false;
}

}  // namespace qm
