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
    listeners_.clear();
    clients_.DetachAndCloseAll();
}

void TWSocketServer::Listen(const std::string& port) {
    const int number = ParseWholeNumber(port);
    if (number < 0 || number > 65535)
        throw std::system_error(std::make_error_code(std::errc::invalid_argument), "Invalid port " + port);
    listeners_.clear();
    // Room for every client the server admits, and for its files and peers.
    constexpr int kOtherDescriptors = 64;
    ReserveDescriptors(MaxClients > 0 ? static_cast<std::size_t>(MaxClients) + kOtherDescriptors : 0);
    try {
        if (Addrs.empty()) {
            try {
                AddListener("::", static_cast<unsigned short>(number), true);
            } catch (const std::system_error& e) {
                if (e.code() != std::errc::address_family_not_supported) throw;
                AddListener("0.0.0.0", static_cast<unsigned short>(number), false);
            }
            return;
        }
        // Port 0: the first address picks a free port, the others share it.
        // That port may be taken on another address; then pick again.
        for (int attempt = 1;; ++attempt) {
            try {
                for (const auto& address : Addrs)
                    AddListener(address, listeners_.empty() ? static_cast<unsigned short>(number) : LocalPort(),
                                false);
                return;
            } catch (const std::system_error& e) {
                if (number != 0 || listeners_.empty() || e.code() != std::errc::address_in_use || attempt == 10)
                    throw;
                listeners_.clear();
            }
        }
    } catch (...) {
        listeners_.clear();
        throw;
    }
}

void TWSocketServer::AddListener(const std::string& address, unsigned short port, bool dualStack) {
    auto listener = std::make_unique<TcpListener>(
        scheduler_.io(), [this](boost::asio::ip::tcp::socket socket) { HandleAccepted(std::move(socket)); },
        [this](const std::system_error& error) { events_.OnServerException(error); }, acceptRetry_);
    listener->Listen(address, port, dualStack);
    listeners_.push_back(std::move(listener));
}

void TWSocketServer::HandleAccepted(boost::asio::ip::tcp::socket socket) {
    boost::system::error_code ec;
    auto remote = socket.remote_endpoint(ec);
    if (ec) return;  // the peer is already gone
    socket.set_option(boost::asio::ip::tcp::no_delay(true), ec);
    auto client = std::make_shared<TTcpSrvClient>(scheduler_, std::move(socket), static_cast<ClientEvents&>(*this));
    client->PeerAddr = AddressText(remote.address());
    client->PeerPort = std::to_string(remote.port());
    clients_.Add(client);
    scheduler_.NoteInput();
    client->SendWire(TerminalInput::Greeting());
    bool admitted = true;
    try {
        admitted = events_.OnClientConnect(*client);
    } catch (const std::exception& e) {
        events_.OnServerException(e);
    }
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
