#include "irc/irc_users.h"

#include <algorithm>

#include "irc/irc_client.h"
#include "storage/ascii.h"

namespace qm {

void TUser::Say(std::string_view text) { owner_.Say(Nick, text); }

std::vector<std::weak_ptr<TUser>>::iterator TUsers::Entry(std::string_view nick) {
    std::erase_if(entries_, [](const std::weak_ptr<TUser>& e) { return e.expired(); });
    return std::find_if(entries_.begin(), entries_.end(),
                        [nick](const std::weak_ptr<TUser>& e) { return EqualsIgnoreCase(e.lock()->Nick, nick); });
}

TUserRef TUsers::Add(std::string_view nick, std::string_view address) {
    const auto it = Entry(nick);
    if (it != entries_.end()) {
        TUserRef user = it->lock();
        if (!address.empty() && user->Address != address) user->Address = address;
        return user;
    }
    auto user = std::make_shared<TUser>(owner_, std::string(nick), std::string(address));
    entries_.push_back(user);
    return user;
}

TUserRef TUsers::Hold(std::string_view nick) const {
    for (const auto& entry : entries_) {
        TUserRef user = entry.lock();
        if (user && EqualsIgnoreCase(user->Nick, nick)) return user;
    }
    return nullptr;
}

void TUsers::Nick(std::string_view oldNick, std::string_view newNick) {
    const auto it = Entry(oldNick);
    if (it == entries_.end()) return;
    TUserRef user = it->lock();
    entries_.erase(it);
    const bool taken = Entry(newNick) != entries_.end();
    user->Nick = newNick;
    if (!taken) entries_.push_back(user);
}

void TUsers::Clear() {
    entries_.clear();
    kept_.clear();
}

std::size_t TUsers::Count() const {
    return std::count_if(entries_.begin(), entries_.end(), [](const std::weak_ptr<TUser>& e) { return !e.expired(); });
}

}  // namespace qm
