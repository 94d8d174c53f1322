#include "net/tcp_listener.h"

#include "net/address_text.h"

#include <boost/asio/ip/v6_only.hpp>

#include <chrono>

namespace qm {

namespace {
// Boost's own exception would name the header and line of the failing call
// in its text, which the operator reads; the standard one says only what
// failed and why ("bind: Address already in use").
[[noreturn]] void Throw(const boost::system::error_code& ec, const std::string& what) {
    throw std::system_error(std::error_code(ec), what);
}
}  // namespace

TcpListener::TcpListener(boost::asio::io_context& io, AcceptHandler onAccept, ErrorHandler onError, AcceptRetry retry)
    : acceptor_(io),
      retry_(io),
      onAccept_(std::move(onAccept)),
      onError_(std::move(onError)),
      backoff_(retry.first, retry.most) {}

TcpListener::~TcpListener() { Close(); }

void TcpListener::Listen(const std::string& address, unsigned short port, bool dualStack) {
    Close();
    boost::system::error_code ec;
    const auto ip = boost::asio::ip::make_address(address, ec);
    if (ec) Throw(ec, "listen on " + address);
    const boost::asio::ip::tcp::endpoint endpoint(ip, port);
    boost::asio::ip::tcp::acceptor acceptor(acceptor_.get_executor());
    const auto check = [&ec](const char* step) {
        if (ec) Throw(ec, step);
    };
    acceptor.open(endpoint.protocol(), ec);
    check("socket");
    acceptor.set_option(boost::asio::socket_base::reuse_address(true), ec);
    check("setsockopt");
    if (ip.is_v6()) acceptor.set_option(boost::asio::ip::v6_only(!dualStack), ec);
    check("setsockopt");
    acceptor.bind(endpoint, ec);
    check("bind");
    acceptor.listen(boost::asio::socket_base::max_listen_connections, ec);
    check("listen");
    acceptor.non_blocking(true, ec);
    check("listen");
    acceptor_ = std::move(acceptor);
    Accept();
}

void TcpListener::Close() {
    retry_.cancel();
    backoff_.Reset();
    failing_ = false;
    if (acceptor_.is_open()) {
        boost::system::error_code ignored;
        acceptor_.close(ignored);
    }
}

unsigned short TcpListener::LocalPort() const {
    boost::system::error_code ec;
    auto endpoint = acceptor_.local_endpoint(ec);
    return ec ? 0 : endpoint.port();
}

std::string TcpListener::LocalAddress() const {
    boost::system::error_code ec;
    auto endpoint = acceptor_.local_endpoint(ec);
    return ec ? std::string() : AddressText(endpoint.address());
}

void TcpListener::Accept() {
    acceptor_.async_accept([this](boost::system::error_code ec, boost::asio::ip::tcp::socket socket) {
        if (ec == boost::asio::error::operation_aborted || !acceptor_.is_open()) return;
        if (ec) {
            if (!failing_) {
                failing_ = true;
                onError_(std::system_error(std::error_code(ec), "accept"));
            }
            retry_.expires_after(backoff_.Next());
            retry_.async_wait([this](boost::system::error_code waitError) {
                if (!waitError && acceptor_.is_open()) Accept();
            });
            return;
        }
        failing_ = false;
        backoff_.Reset();
        onAccept_(std::move(socket));
        AcceptWaiting();
        Accept();
    });
}

// A storm of connections is taken in one go, up to a round's worth, rather
// than one each time round the loop: their greetings then leave in one batch.
void TcpListener::AcceptWaiting() {
    constexpr int kMostPerRound = 4096;
    for (int i = 0; i < kMostPerRound && acceptor_.is_open(); ++i) {
        boost::system::error_code ec;
        boost::asio::ip::tcp::socket socket = acceptor_.accept(ec);
        if (ec) return;  // nothing waiting, or a failure the next async accept reports
        onAccept_(std::move(socket));
    }
}

}  // namespace qm
