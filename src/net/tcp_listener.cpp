#include "net/tcp_listener.h"

#include <asio/ip/v6_only.hpp>

#include <chrono>

namespace qm {

TcpListener::TcpListener(asio::io_context& io, AcceptHandler onAccept, ErrorHandler onError, AcceptRetry retry)
    : acceptor_(io),
      retry_(io),
      onAccept_(std::move(onAccept)),
      onError_(std::move(onError)),
      backoff_(retry.first, retry.most) {}

TcpListener::~TcpListener() { Close(); }

void TcpListener::Listen(const std::string& address, unsigned short port, bool dualStack) {
    Close();
    asio::ip::tcp::endpoint endpoint(asio::ip::make_address(address), port);
    asio::ip::tcp::acceptor acceptor(acceptor_.get_executor());
    acceptor.open(endpoint.protocol());
    acceptor.set_option(asio::socket_base::reuse_address(true));
    if (endpoint.address().is_v6()) acceptor.set_option(asio::ip::v6_only(!dualStack));
    acceptor.bind(endpoint);
    acceptor.listen(asio::socket_base::max_listen_connections);
    acceptor.non_blocking(true);
    acceptor_ = std::move(acceptor);
    Accept();
}

void TcpListener::Close() {
    retry_.cancel();
    backoff_.Reset();
    failing_ = false;
    if (acceptor_.is_open()) {
        std::error_code ignored;
        acceptor_.close(ignored);
    }
}

unsigned short TcpListener::LocalPort() const {
    std::error_code ec;
    auto endpoint = acceptor_.local_endpoint(ec);
    return ec ? 0 : endpoint.port();
}

void TcpListener::Accept() {
    acceptor_.async_accept([this](std::error_code ec, asio::ip::tcp::socket socket) {
        if (ec == asio::error::operation_aborted || !acceptor_.is_open()) return;
        if (ec) {
            if (!failing_) {
                failing_ = true;
                onError_(std::system_error(ec, "accept"));
            }
            retry_.expires_after(backoff_.Next());
            retry_.async_wait([this](std::error_code waitError) {
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
        std::error_code ec;
        asio::ip::tcp::socket socket = acceptor_.accept(ec);
        if (ec) return;  // nothing waiting, or a failure the next async accept reports
        onAccept_(std::move(socket));
    }
}

}  // namespace qm
