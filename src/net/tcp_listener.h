#pragma once
// A listening TCP socket that hands every accepted connection to its owner.
// A failing accept (out of descriptors and the like) is retried after a
// delay that grows while the failures go on, and reported once per run of
// failures: a process out of descriptors would otherwise spin on the same
// failure, and fill its log with it.
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>
#include <chrono>
#include <functional>
#include <string>
#include <system_error>

#include "net/backoff.h"

namespace qm {

// The delays between tries while accepting fails.
struct AcceptRetry {
    std::chrono::milliseconds first{100};
    std::chrono::milliseconds most{5000};
};

class TcpListener {
public:
    using AcceptHandler = std::function<void(boost::asio::ip::tcp::socket)>;
    using ErrorHandler = std::function<void(const std::system_error&)>;

    // `onError` hears the first failure of every run of failures; the run
    // ends with the next accepted connection.
    TcpListener(boost::asio::io_context& io, AcceptHandler onAccept, ErrorHandler onError, AcceptRetry retry = {});
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
    // The bound address as the log writes it ("127.0.0.1", "::"), or empty.
    std::string LocalAddress() const;

private:
    void Accept();
    void AcceptWaiting();

    boost::asio::ip::tcp::acceptor acceptor_;
    boost::asio::steady_timer retry_;
    AcceptHandler onAccept_;
    ErrorHandler onError_;
    Backoff backoff_;
    bool failing_ = false;
};

}  // namespace qm
