#pragma once
// The nicknames shown in the admin window's list of online users. It holds
// texts only; users are found again by comparing nicknames. Every change is
// told as it happens, so a window that shows the list keeps it current
// without asking for the whole list again. Only how many entries each
// nickname has is kept, so that a change costs the same with 10 users online
// as with 10,000.
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>

namespace qm {

class OnlineUsers {
public:
    void Add(std::string nick) {
        ++entries_[nick];
        if (onAdded) onAdded(nick);
    }
    // A nickname change: the first entry equal to `oldNick` takes `newNick`.
    void Rename(std::string_view oldNick, std::string newNick) {
        const auto old = entries_.find(std::string(oldNick));
        if (old == entries_.end()) {
            Add(std::move(newNick));
            return;
        }
        if (--old->second == 0) entries_.erase(old);
        ++entries_[newNick];
        if (onRenamed) onRenamed(std::string(oldNick), newNick);
    }
    // Removes every entry equal to `nick` (exact comparison).
    void RemoveAll(std::string_view nick) {
        if (entries_.erase(std::string(nick)) == 0) return;
        if (onRemoved) onRemoved(std::string(nick));
    }

    std::function<void(const std::string& nick)> onAdded;
    std::function<void(const std::string& oldNick, const std::string& newNick)> onRenamed;
    std::function<void(const std::string& nick)> onRemoved;

private:
    std::unordered_map<std::string, int> entries_;
};

}  // namespace qm
