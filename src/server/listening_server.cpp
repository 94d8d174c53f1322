#include "server/listening_server.h"

#include <memory>
#include <system_error>

#include "net/address_text.h"
#include "net/descriptor_table.h"
#include "storage/settings.h"

namespace qm {

TWSocketServer::TWSocketServer(boost::asio::io_context& io, TransportEvents& events, AcceptRetry acceptRetry)
    : events_(events), scheduler_(io), acceptRetry_(acceptRetry) {}

TWSocketServer::~TWSocketServer() {
    scheduler_.BeginShutdown();
    doors_.clear();
    clients_.DetachAndCloseAll();
}

void TWSocketServer::Listen(const std::string& port) {
    const int number = ParseWholeNumber(port);
    if (number < 0 || number > 65535)
        throw std::system_error(std::make_error_code(std::errc::invalid_argument), "Invalid port " + port);
    // Room for every client the server admits, and for its files and peers.
    constexpr int kOtherDescriptors = 64;
    ReserveDescriptors(MaxClients > 0 ? static_cast<std::size_t>(MaxClients) + kOtherDescriptors : 0);
    ListenWay(telnet_, static_cast<unsigned short>(number));
}

void TWSocketServer::ListenWay(WayIn& way, unsigned short port) {
    CloseWay(way);
    Door door{&way, {}};
    Bind(door, port);
    doors_.push_back(std::move(door));
}

void TWSocketServer::CloseWay(const WayIn& way) {
    std::erase_if(doors_, [&](const Door& door) { return door.way == &way; });
}

const TWSocketServer::Door* TWSocketServer::Find(const WayIn& way) const {
    for (const Door& door : doors_)
        if (door.way == &way) return &door;
    return nullptr;
}

unsigned short TWSocketServer::LocalPort(const WayIn& way) const {
    const Door* door = Find(way);
    return door == nullptr || door->listeners.empty() ? 0 : door->listeners.front()->LocalPort();
}

std::vector<std::string> TWSocketServer::ListeningOn(const WayIn& way) const {
    std::vector<std::string> endpoints;
    if (const Door* door = Find(way))
        for (const auto& listener : door->listeners)
            endpoints.push_back(listener->LocalAddress() + " port " + std::to_string(listener->LocalPort()));
    return endpoints;
}

void TWSocketServer::Bind(Door& door, unsigned short port) {
    auto& listeners = door.listeners;
    if (Addrs.empty()) {
        try {
            AddListener(door, "::", port, true);
        } catch (const std::system_error& e) {
            if (e.code() != std::errc::address_family_not_supported) throw;
            AddListener(door, "0.0.0.0", port, false);
        }
        return;
    }
    // Port 0: the first address picks a free port, the others share it.
    // That port may be taken on another address; then pick again.
    for (int attempt = 1;; ++attempt) {
        try {
            for (const auto& address : Addrs)
                AddListener(door, address, listeners.empty() ? port : listeners.front()->LocalPort(), false);
            return;
        } catch (const std::system_error& e) {
            if (port != 0 || listeners.empty() || e.code() != std::errc::address_in_use || attempt == 10) throw;
            listeners.clear();
        }
    }
}

void TWSocketServer::AddListener(Door& door, const std::string& address, unsigned short port, bool dualStack) {
    WayIn& way = *door.way;
    auto listener = std::make_unique<TcpListener>(
        scheduler_.io(),
        [this, &way](boost::asio::ip::tcp::socket socket) { HandleAccepted(way, std::move(socket)); },
        [this](const std::system_error& error) { events_.OnServerException(error); }, acceptRetry_);
    listener->Listen(address, port, dualStack);
    door.listeners.push_back(std::move(listener));
}

void TWSocketServer::HandleAccepted(WayIn& way, boost::asio::ip::tcp::socket socket) {
    boost::system::error_code ec;
    auto remote = socket.remote_endpoint(ec);
    if (ec) return;  // the peer is already gone
    socket.set_option(boost::asio::ip::tcp::no_delay(true), ec);
    auto client = std::make_shared<TTcpSrvClient>(scheduler_.io(), way.Open(scheduler_, std::move(socket)),
                                                  static_cast<ClientEvents&>(*this), AddressText(remote.address()),
                                                  remote.port());
    clients_.Add(client);
    scheduler_.NoteInput();
    bool admitted = true;
    try {
        admitted = events_.OnClientConnect(*client);
    } catch (const std::exception& e) {
        events_.OnServerException(e);
    }
    // A way with a handshake has nobody to speak to yet: a refusal closes
    // it without a word.
    if (client->Connected()) {
        if (admitted && (MaxClients <= 0 || clients_.Count() <= static_cast<std::size_t>(MaxClients))) {
            if (!Banner.empty()) client->SendStr(Banner + "\r\n");
        } else {
            client->SendStr(BannerToBusy + "\r\n");
            client->CloseDelayed();
        }
    }
    client->Start();
}

void TWSocketServer::DeliverLine(TTcpSrvClient& client, std::string line, bool terminated) {
    try {
        events_.OnDataAvailable(client, std::move(line), terminated);
    } catch (const std::exception& e) {
        events_.OnClientException(client, e);
        client.Close();
    }
}

void TWSocketServer::OnClientLine(TTcpSrvClient& client, std::string line) {
    DeliverLine(client, std::move(line), true);
}

void TWSocketServer::OnClientClosed(TTcpSrvClient& client, std::string partial) {
    // Keeps the record alive until it has left the list.
    auto self = client.Self();
    if (!partial.empty()) DeliverLine(client, std::move(partial), false);
    try {
        events_.OnClientDisconnect(client);
    } catch (const std::exception& e) {
        events_.OnServerException(e);
    }
    clients_.Remove(client);
}

void TWSocketServer::OnClientOverflow(TTcpSrvClient& client) { events_.OnClientOverflow(client); }

}  // namespace qm
