#pragma once
// The nicknames shown in the admin window's list of online users. It holds
// texts only; users are found again by comparing nicknames. Every change is
// told as it happens, so a window that shows the list keeps it current
// without asking for the whole list again.
#include <algorithm>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace qm {

class OnlineUsers {
public:
    void Add(std::string nick) {
        nicks_.push_back(nick);
        if (onAdded) onAdded(nick);
    }
    // A nickname change: the first entry equal to `oldNick` takes `newNick`.
    void Rename(std::string_view oldNick, std::string newNick) {
        auto it = std::find(nicks_.begin(), nicks_.end(), oldNick);
        if (it == nicks_.end()) {
            Add(std::move(newNick));
            return;
        }
        *it = newNick;
        if (onRenamed) onRenamed(std::string(oldNick), newNick);
    }
    // Removes every entry equal to `nick` (exact comparison).
    void RemoveAll(std::string_view nick) {
        auto end = std::remove(nicks_.begin(), nicks_.end(), nick);
        if (end == nicks_.end()) return;
        nicks_.erase(end, nicks_.end());
        if (onRemoved) onRemoved(std::string(nick));
    }

    std::function<void(const std::string& nick)> onAdded;
    std::function<void(const std::string& oldNick, const std::string& newNick)> onRenamed;
    std::function<void(const std::string& nick)> onRemoved;

private:
    std::vector<std::string> nicks_;
};

}  // namespace qm
