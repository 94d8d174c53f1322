#include "irc/irc_users.h"

#include <algorithm>

#include "irc/irc_client.h"
#include "storage/ascii.h"

namespace qm {

void TUser::Say(std::string_view text) { owner_.Say(Nick, text); }

TUsers::Entries::iterator TUsers::Entry(std::string_view nick) {
    const auto it = entries_.find(FoldAscii(nick));
    if (it == entries_.end() || !it->second.expired()) return it;
    entries_.erase(it);
    return entries_.end();
}

void TUsers::Sweep() {
    if (entries_.size() < sweepAt_) return;
    std::erase_if(entries_, [](const auto& entry) { return entry.second.expired(); });
    sweepAt_ = std::max<std::size_t>(64, 2 * entries_.size());
}

TUserRef TUsers::Add(std::string_view nick, std::string_view address) {
    const auto it = Entry(nick);
    if (it != entries_.end()) {
        TUserRef user = it->second.lock();
        if (!address.empty() && user->Address != address) user->Address = address;
        return user;
    }
    Sweep();
    auto user = std::make_shared<TUser>(owner_, std::string(nick), std::string(address));
    entries_.emplace(FoldAscii(nick), user);
    return user;
}

TUserRef TUsers::Hold(std::string_view nick) const {
    const auto it = entries_.find(FoldAscii(nick));
    return it == entries_.end() ? nullptr : it->second.lock();
}

void TUsers::Nick(std::string_view oldNick, std::string_view newNick) {
    const auto it = Entry(oldNick);
    if (it == entries_.end()) return;
    TUserRef user = it->second.lock();
    entries_.erase(it);
    const bool taken = Entry(newNick) != entries_.end();
    user->Nick = newNick;
    if (!taken) entries_.emplace(FoldAscii(newNick), user);
}

void TUsers::Clear() {
    entries_.clear();
    kept_.clear();
}

std::size_t TUsers::Count() const {
    return std::count_if(entries_.begin(), entries_.end(), [](const auto& entry) { return !entry.second.expired(); });
}

}  // namespace qm
