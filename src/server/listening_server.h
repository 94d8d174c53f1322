#pragma once
// The listening TCP server and its list of connections. Every event it
// raises runs on the one thread that runs the io_context.
#include <asio/io_context.hpp>
#include <asio/ip/tcp.hpp>
#include <asio/steady_timer.hpp>
#include <exception>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "server/client_record.h"

namespace qm {

// What the chat server is told by the transport.
class TransportEvents {
public:
    virtual ~TransportEvents() = default;
    // A connection was accepted and added to the list; the banner follows.
    virtual void OnClientConnect(TTcpSrvClient& client) = 0;
    // One line, without its line end; `terminated` is false for the partial
    // line held when the peer closed.
    virtual void OnDataAvailable(TTcpSrvClient& client, std::string line, bool terminated) = 0;
    // The connection has closed; the record is still in the list.
    virtual void OnClientDisconnect(TTcpSrvClient& client) = 0;
    // A failure while accepting or inside the connect or disconnect handler;
    // the server keeps listening.
    virtual void OnServerException(const std::exception& error) = 0;
    // A failure while handling one connection's line; the connection is dropped.
    virtual void OnClientException(TTcpSrvClient& client, const std::exception& error) = 0;
    // The peer stopped reading and its unsent output passed the limit; it is dropped.
    virtual void OnClientOverflow(TTcpSrvClient& client) = 0;
};

class TWSocketServer {
public:
    TWSocketServer(asio::io_context& io, TransportEvents& events);
    ~TWSocketServer();

    // Binds Addr:port and starts accepting; throws std::system_error.
    void Listen(const std::string& port);
    // Stops accepting; connections keep working.
    void Close();
    bool Listening() const { return acceptor_.is_open(); }
    // The bound port (useful when listening on port 0).
    unsigned short LocalPort() const;

    std::size_t GetClientCount() const { return clients_.size(); }
    TTcpSrvClient* GetClient(std::size_t index) const {
        return index < clients_.size() ? clients_[index].get() : nullptr;
    }

    // Walks the connections from the highest index down to 0, as every walk
    // over users does.
    template <typename F>
    void ForEachClientDown(F&& f) const {
        for (std::size_t i = clients_.size(); i-- > 0;) f(*clients_[i]);
    }

    std::string Addr = "0.0.0.0";
    std::string Banner = "Nickname: ";
    std::string BannerToBusy = "Sorry.  All connections full.  Please try again later";
    int MaxClients = 0;

    asio::io_context& io() { return io_; }

private:
    friend class TWSocketClient;
    void Accept();
    void HandleAccepted(asio::ip::tcp::socket socket);
    void DeliverLine(TTcpSrvClient& client, std::string line, bool terminated);
    void QueueFlush(std::shared_ptr<TWSocketClient> client);
    void FlushAll();
    void FlushWhenQuiet();
    void NoteOutputReleased(std::size_t bytes);
    void ScheduleTrim(std::chrono::steady_clock::duration wait);
    void HandleClosed(std::shared_ptr<TTcpSrvClient> client, std::string partial);
    void HandleOverflow(TTcpSrvClient& client);
    std::pair<char*, std::size_t> ReadBuffer() { return {readBuffer_.data(), readBuffer_.size()}; }

    asio::io_context& io_;
    TransportEvents& events_;
    asio::ip::tcp::acceptor acceptor_;
    asio::steady_timer acceptRetry_;
    std::vector<std::shared_ptr<TTcpSrvClient>> clients_;
    std::vector<std::shared_ptr<TWSocketClient>> flushQueue_;
    bool flushPosted_ = false;
    bool inputSinceCheck_ = false;
    static constexpr auto kMaxFlushDelay = std::chrono::milliseconds(2);
    std::chrono::steady_clock::time_point flushDeadline_;
    bool destroying_ = false;
    asio::steady_timer trimTimer_;
    std::size_t releasedSinceTrim_ = 0;
    bool trimScheduled_ = false;
    static constexpr auto kTrimQuiet = std::chrono::milliseconds(250);
    std::chrono::steady_clock::time_point lastRelease_;
    // One buffer serves every read: bytes are handed on before the next read.
    std::vector<char> readBuffer_ = std::vector<char>(16384);
};

}  // namespace qm
