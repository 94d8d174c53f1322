#include "server/listening_server.h"

#include <malloc.h>

#include <asio/post.hpp>
#include <algorithm>
#include <chrono>
#include <system_error>

#include "storage/settings.h"

namespace qm {

TWSocketServer::TWSocketServer(asio::io_context& io, TransportEvents& events)
    : io_(io), events_(events), acceptor_(io), acceptRetry_(io), trimTimer_(io) {}

TWSocketServer::~TWSocketServer() {
    destroying_ = true;
    Close();
    for (auto& c : clients_) c->Close();
}

void TWSocketServer::Listen(const std::string& port) {
    Close();
    const int number = ParseWholeNumber(port);
    if (number < 0 || number > 65535)
        throw std::system_error(std::make_error_code(std::errc::invalid_argument),
                                "Invalid port " + port);
    asio::ip::tcp::endpoint endpoint(asio::ip::make_address_v4(Addr),
                                     static_cast<unsigned short>(number));
    asio::ip::tcp::acceptor acceptor(io_);
    acceptor.open(endpoint.protocol());
    acceptor.set_option(asio::socket_base::reuse_address(true));
    acceptor.bind(endpoint);
    acceptor.listen(asio::socket_base::max_listen_connections);
    acceptor_ = std::move(acceptor);
    Accept();
}

void TWSocketServer::Close() {
    acceptRetry_.cancel();
    if (acceptor_.is_open()) {
        std::error_code ignored;
        acceptor_.close(ignored);
    }
}

unsigned short TWSocketServer::LocalPort() const {
    std::error_code ec;
    auto endpoint = acceptor_.local_endpoint(ec);
    return ec ? 0 : endpoint.port();
}

void TWSocketServer::Accept() {
    acceptor_.async_accept([this](std::error_code ec, asio::ip::tcp::socket socket) {
        if (ec == asio::error::operation_aborted || !acceptor_.is_open()) return;
        if (ec) {
            // Out of descriptors and the like: report it, and try again a
            // little later rather than spinning on the same failure.
            events_.OnServerException(std::system_error(ec, "accept"));
            acceptRetry_.expires_after(std::chrono::milliseconds(100));
            acceptRetry_.async_wait([this](std::error_code waitError) {
                if (!waitError && acceptor_.is_open()) Accept();
            });
            return;
        }
        HandleAccepted(std::move(socket));
        Accept();
    });
}

void TWSocketServer::HandleAccepted(asio::ip::tcp::socket socket) {
    std::error_code ec;
    auto remote = socket.remote_endpoint(ec);
    if (ec) return;  // the peer is already gone
    socket.set_option(asio::ip::tcp::no_delay(true), ec);
    auto client = std::make_shared<TTcpSrvClient>(*this, std::move(socket));
    client->PeerAddr = remote.address().to_string();
    client->PeerPort = std::to_string(remote.port());
    clients_.push_back(client);
    inputSinceCheck_ = true;
    client->SendWire(TerminalInput::Greeting());
    try {
        events_.OnClientConnect(*client);
    } catch (const std::exception& e) {
        events_.OnServerException(e);
    }
    if (client->Connected()) {
        if (MaxClients <= 0 || clients_.size() <= static_cast<std::size_t>(MaxClients)) {
            if (!Banner.empty()) client->SendStr(Banner + "\r\n");
        } else {
            client->SendStr(BannerToBusy + "\r\n");
            client->CloseDelayed();
        }
    }
    client->Start();
}

void TWSocketServer::DeliverLine(TTcpSrvClient& client, std::string line, bool terminated) {
    inputSinceCheck_ = true;
    try {
        events_.OnDataAvailable(client, std::move(line), terminated);
    } catch (const std::exception& e) {
        events_.OnClientException(client, e);
        client.Close();
    }
}

void TWSocketServer::QueueFlush(std::shared_ptr<TWSocketClient> client) {
    flushQueue_.push_back(std::move(client));
    if (flushPosted_) return;
    flushPosted_ = true;
    flushDeadline_ = std::chrono::steady_clock::now() + kMaxFlushDelay;
    inputSinceCheck_ = true;
    FlushWhenQuiet();
}

// Output waits while input keeps arriving (each post goes behind the
// reactor's next poll, so every socket that became ready gets its turn),
// for at most kMaxFlushDelay. A burst of logins or lines then costs one
// write per connection instead of one per line, and an idle server writes
// at once.
void TWSocketServer::FlushWhenQuiet() {
    if (inputSinceCheck_ && std::chrono::steady_clock::now() < flushDeadline_) {
        inputSinceCheck_ = false;
        asio::post(io_, [this] { FlushWhenQuiet(); });
        return;
    }
    FlushAll();
}

void TWSocketServer::FlushAll() {
    flushPosted_ = false;
    auto queue = std::move(flushQueue_);
    flushQueue_.clear();
    // Walks over the users run from the newest connection to the oldest, so
    // the queue holds them newest first; writing oldest first keeps the
    // connections that waited longest from waiting longer.
    for (auto it = queue.rbegin(); it != queue.rend(); ++it) (*it)->Flush();
}

void TWSocketServer::NoteOutputReleased(std::size_t bytes) {
    // A burst of output (a login storm announced to a full channel) leaves
    // the heap at its high-water mark, with the freed buffers scattered
    // between live records. Once a burst is over (nothing released for a
    // quarter of a second), hand that memory back to the system, so that an
    // idle server stays small.
    constexpr std::size_t kBurst = 1 << 20;
    releasedSinceTrim_ += bytes;
    lastRelease_ = std::chrono::steady_clock::now();
    if (releasedSinceTrim_ < kBurst || trimScheduled_) return;
    trimScheduled_ = true;
    ScheduleTrim(kTrimQuiet);
}

void TWSocketServer::ScheduleTrim(std::chrono::steady_clock::duration wait) {
    trimTimer_.expires_after(wait);
    trimTimer_.async_wait([this](std::error_code ec) {
        if (ec) return;
        const auto quiet = std::chrono::steady_clock::now() - lastRelease_;
        if (quiet < kTrimQuiet) {
            ScheduleTrim(kTrimQuiet - quiet);
            return;
        }
        trimScheduled_ = false;
        releasedSinceTrim_ = 0;
        ::malloc_trim(0);
    });
}

void TWSocketServer::HandleClosed(std::shared_ptr<TTcpSrvClient> client, std::string partial) {
    if (client->LineMode && !partial.empty()) DeliverLine(*client, std::move(partial), false);
    try {
        events_.OnClientDisconnect(*client);
    } catch (const std::exception& e) {
        events_.OnServerException(e);
    }
    auto it = std::find(clients_.begin(), clients_.end(), client);
    if (it != clients_.end()) clients_.erase(it);
}

void TWSocketServer::HandleOverflow(TTcpSrvClient& client) {
    events_.OnClientOverflow(client);
}

}  // namespace qm
