#pragma once
// Connections that have not finished logging in hold a place that somebody
// else could use (the maximum of connections counts them), so they may not
// hold it forever, and one place may hold only so many of them at once:
// otherwise a handful of idle sockets locks everybody out. A connection is
// logging in until its nickname is accepted (its password too, for a
// registered one) or it has sent the game handshake.
#include <boost/asio/io_context.hpp>
#include <boost/asio/steady_timer.hpp>
#include <chrono>
#include <deque>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "chat/client_record.h"

namespace qm {

class LoginWatch {
public:
    // A connection still logging in `timeout` after connecting is told
    // "Login timed out." and closed.
    LoginWatch(boost::asio::io_context& io, std::chrono::milliseconds timeout);

    // At most this many connections logging in at once from one address
    // group (AddressGroup); 0: no limit.
    void SetMostPerAddress(int most) { mostPerAddress_ = most; }

    // A new connection. False, and it is not watched, when its address group
    // holds the most connections logging in already.
    bool Admit(TTcpSrvClient& client);

private:
    struct Watched {
        std::chrono::steady_clock::time_point deadline;
        std::weak_ptr<TTcpSrvClient> client;
        std::string group;
    };

    static bool StillLoggingIn(const std::weak_ptr<TTcpSrvClient>& client);
    // The connections of `group` that are still logging in.
    std::size_t CountLoggingIn(const std::string& group);
    void ArmTimer();
    void Expire();

    boost::asio::steady_timer timer_;
    std::chrono::milliseconds timeout_;
    int mostPerAddress_ = 0;
    bool timerArmed_ = false;
    // In the order of connections, which is the order of deadlines. A deque
    // keeps its elements in place, so the groups can point into it.
    std::deque<Watched> watched_;
    // Only kept while there is a limit; counted lazily, so no command has to
    // report the end of a login.
    std::unordered_map<std::string, std::vector<const Watched*>> byGroup_;
};

}  // namespace qm
