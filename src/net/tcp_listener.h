#pragma once
// A listening TCP socket that hands every accepted connection to its owner.
// A failing accept (out of descriptors and the like) is reported and retried
// a little later rather than spinning on the same failure.
#include <asio/io_context.hpp>
#include <asio/ip/tcp.hpp>
#include <asio/steady_timer.hpp>
#include <functional>
#include <string>
#include <system_error>

namespace qm {

class TcpListener {
public:
    using AcceptHandler = std::function<void(asio::ip::tcp::socket)>;
    using ErrorHandler = std::function<void(const std::system_error&)>;

    TcpListener(asio::io_context& io, AcceptHandler onAccept, ErrorHandler onError);
    ~TcpListener();

    // Binds address:port and starts accepting; throws std::system_error.
    // An IPv6 address takes IPv4 connections too when `dualStack` is set,
    // and only IPv6 ones otherwise.
    void Listen(const std::string& address, unsigned short port, bool dualStack = false);
    // Stops accepting; accepted connections are not affected.
    void Close();
    bool Listening() const { return acceptor_.is_open(); }
    // The bound port (useful when listening on port 0), or 0.
    unsigned short LocalPort() const;

private:
    void Accept();

    asio::ip::tcp::acceptor acceptor_;
    asio::steady_timer retry_;
    AcceptHandler onAccept_;
    ErrorHandler onError_;
};

}  // namespace qm
