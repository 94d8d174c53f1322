#pragma once
// The nicknames shown in the admin window's list of online users. It holds
// texts only; users are found again by comparing nicknames.
#include <algorithm>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace qm {

class OnlineUsers {
public:
    void Add(std::string nick) {
        nicks_.push_back(std::move(nick));
        Changed();
    }
    // Removes every entry equal to `nick` (exact comparison).
    void RemoveAll(std::string_view nick) {
        auto end = std::remove(nicks_.begin(), nicks_.end(), nick);
        if (end == nicks_.end()) return;
        nicks_.erase(end, nicks_.end());
        Changed();
    }
    const std::vector<std::string>& Nicks() const { return nicks_; }

    std::function<void()> onChange;

private:
    void Changed() {
        if (onChange) onChange();
    }
    std::vector<std::string> nicks_;
};

}  // namespace qm
