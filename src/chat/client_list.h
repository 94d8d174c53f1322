#pragma once
// The connected clients, in the order they connected, and what the chat
// commands do with them: visit them from the newest down to the oldest (the
// order every walk over users follows), find one by nickname, send a line to
// a channel's members.
#include <cstddef>
#include <memory>
#include <string_view>
#include <vector>

#include "chat/client_record.h"

namespace qm {

class ClientList {
public:
    void Add(std::shared_ptr<TTcpSrvClient> client) { clients_.push_back(std::move(client)); }
    void Remove(const TTcpSrvClient& client);
    std::size_t Count() const { return clients_.size(); }

    // Visits every client from the highest index down to 0.
    template <typename F>
    void ForEachClientDown(F&& f) const {
        for (std::size_t i = clients_.size(); i-- > 0;) f(*clients_[i]);
    }

    // The first client, from the top down, whose nickname equals `nick`
    // ignoring letter case; nullptr when nobody has it.
    TTcpSrvClient* FindByNick(std::string_view nick) const;

    // Sends `text` to every client whose channel equals `channel` ignoring
    // letter case (or exactly, for the commands that compare exactly),
    // escaping it once for all of them.
    void SendToChannel(std::string_view channel, std::string_view text) const;
    void SendToExactChannel(std::string_view channel, std::string_view text) const;

    // A departure notice: to every member of `leaver`'s channel (letter case
    // ignored) but the leaver itself; a connection that closed also skips
    // every other user of its nickname (those still choosing one share it).
    enum class Departure { kAnnounced, kDisconnected };
    void SendDepartureNotice(const TTcpSrvClient& leaver, std::string_view text, Departure how) const;

    // Stops the events of every connection and closes them (the owner is going away).
    void DetachAndCloseAll();

private:
    std::vector<std::shared_ptr<TTcpSrvClient>> clients_;
};

}  // namespace qm
