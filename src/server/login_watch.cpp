#include "server/login_watch.h"

#include <algorithm>

#include "server/address_group.h"

namespace qm {

LoginWatch::LoginWatch(boost::asio::io_context& io, std::chrono::milliseconds timeout) : timer_(io), timeout_(timeout) {}

bool LoginWatch::StillLoggingIn(const std::weak_ptr<TTcpSrvClient>& client) {
    const auto c = client.lock();
    return c && c->Connected() && !c->CloseRequested() && c->LoggingIn();
}

std::size_t LoginWatch::CountLoggingIn(const std::string& group) {
    const auto found = byGroup_.find(group);
    if (found == byGroup_.end()) return 0;
    auto& members = found->second;
    std::erase_if(members, [](const Watched* w) { return !StillLoggingIn(w->client); });
    const std::size_t count = members.size();
    if (count == 0) byGroup_.erase(found);
    return count;
}

bool LoginWatch::Admit(TTcpSrvClient& client) {
    std::string group;
    if (mostPerAddress_ > 0) {
        group = AddressGroup(client.PeerAddr);
        if (CountLoggingIn(group) >= static_cast<std::size_t>(mostPerAddress_)) return false;
    }
    watched_.push_back({std::chrono::steady_clock::now() + timeout_, client.Self(), group});
    if (mostPerAddress_ > 0) byGroup_[group].push_back(&watched_.back());
    ArmTimer();
    return true;
}

void LoginWatch::ArmTimer() {
    if (timerArmed_ || watched_.empty()) return;
    timerArmed_ = true;
    timer_.expires_at(watched_.front().deadline);
    timer_.async_wait([this](boost::system::error_code ec) {
        // Aborted: the watch is going away; `this` may be gone.
        if (ec) return;
        timerArmed_ = false;
        Expire();
        ArmTimer();
    });
}

void LoginWatch::Expire() {
    const auto now = std::chrono::steady_clock::now();
    while (!watched_.empty() && watched_.front().deadline <= now) {
        const Watched& oldest = watched_.front();
        if (StillLoggingIn(oldest.client)) {
            const auto client = oldest.client.lock();
            client->SendStr("Login timed out.\r\n");
            client->CloseDelayed();
        }
        if (const auto found = byGroup_.find(oldest.group); found != byGroup_.end()) {
            std::erase(found->second, &oldest);
            if (found->second.empty()) byGroup_.erase(found);
        }
        watched_.pop_front();
    }
}

}  // namespace qm
