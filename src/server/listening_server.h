#pragma once
// The listening server: accepts terminal clients on the port of each way in
// (telnet on the chat's port, and the others on theirs), keeps them in the
// client list and turns their sessions' events into the chat server's
// transport events. Every event runs on the one thread that runs the
// io_context.
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "access/telnet_ways.h"
#include "access/way_in.h"
#include "chat/client_events.h"
#include "chat/client_list.h"
#include "net/output_scheduler.h"
#include "net/tcp_listener.h"

namespace qm {

// What the chat server is told by the transport.
class TransportEvents {
public:
    virtual ~TransportEvents() = default;
    // A connection was accepted and added to the list; the banner follows.
    // False turns it away with the busy banner, as a full server does.
    virtual bool OnClientConnect(TTcpSrvClient& client) = 0;
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

class TWSocketServer final : private ClientEvents {
public:
    TWSocketServer(boost::asio::io_context& io, TransportEvents& events, AcceptRetry acceptRetry);
    ~TWSocketServer() override;

    // Binds every address of Addrs on `port` for the telnet way and starts
    // accepting; throws std::system_error, and then the telnet way listens
    // nowhere.
    void Listen(const std::string& port);
    // The same for another way in, on its own port (0: any free port).
    void ListenWay(WayIn& way, unsigned short port);
    // Stops accepting on one way; its connections keep working.
    void CloseWay(const WayIn& way);
    // Stops accepting on every way; connections keep working.
    void Close() { doors_.clear(); }
    // Whether the telnet way listens.
    bool Listening() const { return Find(telnet_) != nullptr; }
    bool Listening(const WayIn& way) const { return Find(way) != nullptr; }
    // The bound port of the telnet way or another (useful when listening on
    // port 0), or 0.
    unsigned short LocalPort() const { return LocalPort(telnet_); }
    unsigned short LocalPort(const WayIn& way) const;
    // "ADDRESS port N" for each socket the way listens on.
    std::vector<std::string> ListeningOn(const WayIn& way) const;
    const WayIn& TelnetWayIn() const { return telnet_; }

    // The unsent output of all connections together is kept under this.
    void SetMaxTotalOutput(std::size_t bytes) { scheduler_.SetMaxTotalOutput(bytes); }

    ClientList& Clients() { return clients_; }
    const ClientList& Clients() const { return clients_; }

    // Where to listen. Empty: every interface, IPv6 and IPv4 alike on one
    // socket (IPv4 alone where the host has no IPv6).
    std::vector<std::string> Addrs;
    std::string Banner = "Nickname: ";
    std::string BannerToBusy = "Sorry.  All connections full.  Please try again later";
    int MaxClients = 0;

private:
    // The listening sockets of one way in.
    struct Door {
        WayIn* way;
        std::vector<std::unique_ptr<TcpListener>> listeners;
    };
    const Door* Find(const WayIn& way) const;
    // Binds the door on every address of Addrs; throws std::system_error.
    void Bind(Door& door, unsigned short port);
    void AddListener(Door& door, const std::string& address, unsigned short port, bool dualStack);
    void HandleAccepted(WayIn& way, boost::asio::ip::tcp::socket socket);
    void DeliverLine(TTcpSrvClient& client, std::string line, bool terminated);
    // ClientEvents
    void OnClientLine(TTcpSrvClient& client, std::string line) override;
    void OnClientClosed(TTcpSrvClient& client, std::string partial) override;
    void OnClientOverflow(TTcpSrvClient& client) override;

    TransportEvents& events_;
    OutputScheduler scheduler_;
    ClientList clients_;
    AcceptRetry acceptRetry_;
    TelnetWay telnet_;
    std::vector<Door> doors_;
};

}  // namespace qm
