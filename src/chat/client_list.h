#pragma once
// The connected clients, in the order they connected, and what the chat
// commands do with them: visit them from the newest down to the oldest (the
// order every walk over users follows), find one by nickname, send a line to
// a channel's members. Each channel's members and each nickname's holders
// are kept apart, so that a line costs only its recipients and a nickname is
// found without visiting everybody, however many are online.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "chat/client_index.h"
#include "chat/client_record.h"

namespace qm {

class ClientList final : public ClientIndex {
public:
    void Add(std::shared_ptr<TTcpSrvClient> client);
    void Remove(const TTcpSrvClient& client);
    std::size_t Count() const { return clients_.size(); }

    // Visits every client from the highest index down to 0.
    template <typename F>
    void ForEachClientDown(F&& f) const {
        for (std::size_t i = clients_.size(); i-- > 0;) f(*clients_[i]);
    }

    // Visits, newest first, the members of `channel` (letter case ignored)
    // or the holders of `nick` (letter case ignored): the clients the full
    // walk would have found, in the same order. A visit may move clients to
    // other channels or rename them; the walk goes over the group as it was.
    template <typename F>
    void ForEachMemberDown(std::string_view channel, F&& f) const {
        WalkDown(byChannel_, channel, f);
    }
    template <typename F>
    void ForEachHolderDown(std::string_view nick, F&& f) const {
        WalkDown(byNick_, nick, f);
    }

    // The holders of `nick` whom a private line may reach: a connection
    // still asked for the password of a registered nickname has not shown
    // that it is that user, so what is meant for the user never reaches it.
    template <typename F>
    void ForEachRecipientDown(std::string_view nick, F&& f) const {
        ForEachHolderDown(nick, [&](TTcpSrvClient& holder) {
            if (!holder.AwaitingPassword()) f(holder);
        });
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

    // ClientIndex
    void NickChanged(TTcpSrvClient& client, const std::string& old) override;
    void ChannelChanged(TTcpSrvClient& client, const std::string& old) override;

private:
    // The clients of one name, in the order they connected.
    using Group = std::vector<TTcpSrvClient*>;
    // By the name with its letters folded.
    using Index = std::unordered_map<std::string, Group>;

    static void Insert(Index& index, const std::string& name, TTcpSrvClient& client);
    static void Erase(Index& index, const std::string& name, const TTcpSrvClient& client);
    static const Group* Find(const Index& index, std::string_view name);

    template <typename F>
    static void WalkDown(const Index& index, std::string_view name, F& f) {
        const Group* group = Find(index, name);
        if (group == nullptr) return;
        // A copy: the visit may change the group.
        const Group members = *group;
        for (std::size_t i = members.size(); i-- > 0;) f(*members[i]);
    }

    std::vector<std::shared_ptr<TTcpSrvClient>> clients_;
    Index byNick_;
    Index byChannel_;
    std::uint64_t lastSequence_ = 0;
};

}  // namespace qm
