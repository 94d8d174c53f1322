#include "chat/client_list.h"

#include <algorithm>

#include "chat/wire_for_many.h"
#include "storage/ascii.h"

namespace qm {

namespace {

bool ConnectedEarlier(const TTcpSrvClient* a, const TTcpSrvClient* b) { return a->Sequence() < b->Sequence(); }

}  // namespace

void ClientList::Add(std::shared_ptr<TTcpSrvClient> client) {
    client->JoinIndex(this, ++lastSequence_);
    Insert(byNick_, client->Nick(), *client);
    Insert(byChannel_, client->Channel(), *client);
    clients_.push_back(std::move(client));
}

void ClientList::Remove(const TTcpSrvClient& client) {
    // The list is in the order of connections, which is the order of sequence numbers.
    auto it = std::lower_bound(clients_.begin(), clients_.end(), client.Sequence(),
                               [](const auto& c, std::uint64_t sequence) { return c->Sequence() < sequence; });
    if (it == clients_.end() || it->get() != &client) return;
    Erase(byNick_, client.Nick(), client);
    Erase(byChannel_, client.Channel(), client);
    (*it)->JoinIndex(nullptr, client.Sequence());
    clients_.erase(it);
}

void ClientList::NickChanged(TTcpSrvClient& client, const std::string& old) {
    Erase(byNick_, old, client);
    Insert(byNick_, client.Nick(), client);
}

void ClientList::ChannelChanged(TTcpSrvClient& client, const std::string& old) {
    Erase(byChannel_, old, client);
    Insert(byChannel_, client.Channel(), client);
}

void ClientList::Insert(Index& index, const std::string& name, TTcpSrvClient& client) {
    Group& group = index[FoldAscii(name)];
    // Mostly the newest client, which goes at the end.
    group.insert(std::upper_bound(group.begin(), group.end(), &client, ConnectedEarlier), &client);
}

void ClientList::Erase(Index& index, const std::string& name, const TTcpSrvClient& client) {
    const auto found = index.find(FoldAscii(name));
    if (found == index.end()) return;
    Group& group = found->second;
    const auto it = std::lower_bound(group.begin(), group.end(), &client, ConnectedEarlier);
    if (it != group.end() && *it == &client) group.erase(it);
    if (group.empty()) index.erase(found);
}

const ClientList::Group* ClientList::Find(const Index& index, std::string_view name) {
    const auto found = index.find(FoldAscii(name));
    return found == index.end() ? nullptr : &found->second;
}

TTcpSrvClient* ClientList::FindByNick(std::string_view nick) const {
    const Group* group = Find(byNick_, nick);
    return group == nullptr ? nullptr : group->back();
}

void ClientList::SendToChannel(std::string_view channel, std::string_view text) const {
    WireForMany wire(text);
    ForEachMemberDown(channel, [&](TTcpSrvClient& member) { wire.SendTo(member); });
}

void ClientList::SendToExactChannel(std::string_view channel, std::string_view text) const {
    WireForMany wire(text);
    ForEachMemberDown(channel, [&](TTcpSrvClient& member) {
        if (member.Channel() == channel) wire.SendTo(member);
    });
}

void ClientList::SendDepartureNotice(const TTcpSrvClient& leaver, std::string_view text, Departure how) const {
    WireForMany wire(text);
    ForEachMemberDown(leaver.Channel(), [&](TTcpSrvClient& member) {
        const bool skipped = how == Departure::kDisconnected ? EqualsIgnoreCase(member.Nick(), leaver.Nick())
                                                             : &member == &leaver;
        if (!skipped) wire.SendTo(member);
    });
}

void ClientList::DetachAndCloseAll() {
    for (auto& client : clients_) {
        client->Detach();
        client->Close();
    }
}

}  // namespace qm
