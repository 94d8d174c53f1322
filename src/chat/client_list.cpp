#include "chat/client_list.h"

#include <algorithm>
#include <string>

#include "storage/ascii.h"

namespace qm {

void ClientList::Remove(const TTcpSrvClient& client) {
    auto it = std::find_if(clients_.begin(), clients_.end(), [&](const auto& c) { return c.get() == &client; });
    if (it != clients_.end()) clients_.erase(it);
}

TTcpSrvClient* ClientList::FindByNick(std::string_view nick) const {
    for (std::size_t i = clients_.size(); i-- > 0;)
        if (EqualsIgnoreCase(clients_[i]->Nick, nick)) return clients_[i].get();
    return nullptr;
}

void ClientList::SendToChannel(std::string_view channel, std::string_view text) const {
    std::string wire;
    TerminalInput::AppendEscaped(text, wire);
    ForEachClientDown([&](TTcpSrvClient& member) {
        if (EqualsIgnoreCase(member.Channel, channel)) member.SendWire(wire);
    });
}

void ClientList::SendToExactChannel(std::string_view channel, std::string_view text) const {
    std::string wire;
    TerminalInput::AppendEscaped(text, wire);
    ForEachClientDown([&](TTcpSrvClient& member) {
        if (member.Channel == channel) member.SendWire(wire);
    });
}

void ClientList::SendDepartureNotice(const TTcpSrvClient& leaver, std::string_view text, Departure how) const {
    std::string wire;
    TerminalInput::AppendEscaped(text, wire);
    ForEachClientDown([&](TTcpSrvClient& member) {
        const bool skipped = how == Departure::kDisconnected ? EqualsIgnoreCase(member.Nick, leaver.Nick)
                                                             : &member == &leaver;
        if (!skipped && EqualsIgnoreCase(member.Channel, leaver.Channel)) member.SendWire(wire);
    });
}

void ClientList::DetachAndCloseAll() {
    for (auto& client : clients_) {
        client->Detach();
        client->Close();
    }
}

}  // namespace qm
