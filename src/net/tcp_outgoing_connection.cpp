#include "net/tcp_outgoing_connection.h"

#include <boost/asio/connect.hpp>
#include <boost/asio/post.hpp>

#include "net/line_socket.h"
#include "net/output_scheduler.h"

namespace qm {

class TcpOutgoingConnection::Stream final : public LineSocket {
public:
    Stream(OutputScheduler& scheduler, boost::asio::ip::tcp::socket socket, TcpOutgoingConnection& owner)
        : LineSocket(scheduler, std::move(socket)), owner_(&owner) {}
    void Detach() { owner_ = nullptr; }

private:
    void OnReceived(std::string_view bytes) override {
        if (owner_) owner_->StreamData(bytes);
    }
    void OnClosed(bool byPeer) override {
        if (!owner_) return;
        std::string reason;
        if (!overflowReason_.empty())
            reason = overflowReason_;
        else if (CloseError())
            reason = "Connection lost: " + CloseError().message() + ".";
        else
            reason = byPeer ? "Connection closed by the server." : "Connection closed.";
        owner_->StreamClosed(reason);
    }
    // Raised inside a send: the close that follows is reported from the loop.
    void OnOutputOverflow() override { overflowReason_ = "Connection dropped: the server stopped reading."; }

    TcpOutgoingConnection* owner_;
    std::string overflowReason_;
};

TcpOutgoingConnection::TcpOutgoingConnection(OutputScheduler& scheduler)
    : scheduler_(scheduler), resolver_(scheduler.io()), connecting_(scheduler.io()) {}

TcpOutgoingConnection::~TcpOutgoingConnection() {
    resolver_.cancel();
    boost::system::error_code ignored;
    connecting_.close(ignored);
    if (stream_) {
        stream_->Detach();
        stream_->Close();
    }
}

void TcpOutgoingConnection::Open(const OutgoingTarget& target, OutgoingObserver& observer) {
    observer_ = &observer;
    target_ = target;
    phase_ = Phase::kResolving;
    resolver_.async_resolve(
        target.host, target.port,
        [this, alive = std::weak_ptr<char>(alive_)](boost::system::error_code ec,
                                                     boost::asio::ip::tcp::resolver::results_type results) {
            if (alive.expired() || phase_ != Phase::kResolving) return;
            if (ec) {
                Fail("Cannot resolve " + target_.host + ": " + ec.message() + ".");
                return;
            }
            Connect(results);
        });
}

void TcpOutgoingConnection::Connect(const boost::asio::ip::tcp::resolver::results_type& endpoints) {
    phase_ = Phase::kConnecting;
    boost::asio::async_connect(connecting_, endpoints,
                        [this, alive = std::weak_ptr<char>(alive_)](boost::system::error_code ec, const auto&) {
                            if (alive.expired() || phase_ != Phase::kConnecting) return;
                            if (ec) {
                                Fail("Cannot connect to " + target_.host + " port " + target_.port + ": " +
                                     ec.message() + ".");
                                return;
                            }
                            Established(std::move(connecting_));
                        });
}

void TcpOutgoingConnection::Established(boost::asio::ip::tcp::socket socket) {
    boost::system::error_code ignored;
    socket.set_option(boost::asio::ip::tcp::no_delay(true), ignored);
    stream_ = std::make_shared<Stream>(scheduler_, std::move(socket), *this);
    if (target_.tls) {
        phase_ = Phase::kHandshaking;
        TlsClientConfig config;
        config.host = target_.host;
        config.fingerprint = target_.fingerprint;
        tls_ = std::make_unique<TlsFilter>(std::move(config));
        tls_->Start();
        stream_->Start();
        CheckTls();
        return;
    }
    phase_ = Phase::kOpen;
    auto stream = stream_;
    observer_->OnOutgoingConnected();
    stream->Start();
}

void TcpOutgoingConnection::WriteTls() {
    std::string records;
    tls_->TakeOutgoing(records);
    if (!records.empty() && stream_) stream_->SendBytes(records);
}

void TcpOutgoingConnection::CheckTls() {
    WriteTls();
    switch (tls_->state()) {
    case TlsFilter::State::kHandshaking:
        break;
    case TlsFilter::State::kOpen:
        if (phase_ == Phase::kHandshaking) {
            phase_ = Phase::kOpen;
            observer_->OnOutgoingConnected();
        }
        break;
    case TlsFilter::State::kFailed:
        stream_->Close();
        if (phase_ == Phase::kHandshaking)
            Fail(tls_->FailureReason());
        else
            StreamClosed(tls_->FailureReason());
        break;
    case TlsFilter::State::kClosed:
        stream_->CloseDelayed();
        break;
    }
}

void TcpOutgoingConnection::Fail(const std::string& reason) {
    phase_ = Phase::kDone;
    observer_->OnOutgoingFailed(reason);
}

void TcpOutgoingConnection::Send(std::string_view bytes) {
    if (phase_ != Phase::kOpen || !stream_) return;
    if (!tls_) {
        stream_->SendBytes(bytes);
        return;
    }
    tls_->ToNetwork(bytes);
    WriteTls();
}

void TcpOutgoingConnection::Close() {
    if (phase_ == Phase::kOpen && stream_) {
        if (tls_) {
            tls_->Shutdown();
            WriteTls();
        }
        stream_->CloseDelayed();
        return;
    }
    Abort();
}

void TcpOutgoingConnection::Abort() {
    switch (phase_) {
    case Phase::kHandshaking:
        stream_->Detach();
        stream_->Close();
        [[fallthrough]];
    case Phase::kResolving:
    case Phase::kConnecting: {
        resolver_.cancel();
        boost::system::error_code ignored;
        connecting_.close(ignored);
        phase_ = Phase::kDone;
        boost::asio::post(scheduler_.io(), [this, alive = std::weak_ptr<char>(alive_)] {
            if (!alive.expired()) observer_->OnOutgoingFailed("Connection attempt stopped.");
        });
        break;
    }
    case Phase::kOpen:
        // The stream reports the close from the loop, as for any other close.
        stream_->Close();
        break;
    case Phase::kIdle:
    case Phase::kDone:
        break;
    }
}

void TcpOutgoingConnection::StreamData(std::string_view bytes) {
    if (!tls_) {
        observer_->OnOutgoingData(bytes);
        return;
    }
    std::string plain;
    tls_->FromNetwork(bytes, plain);
    const auto alive = std::weak_ptr<char>(alive_);
    CheckTls();
    if (!plain.empty() && !alive.expired() && phase_ == Phase::kOpen) observer_->OnOutgoingData(plain);
}

void TcpOutgoingConnection::StreamClosed(const std::string& reason) {
    if (phase_ == Phase::kHandshaking) {
        Fail("TLS handshake failed: " + reason);
        return;
    }
    if (phase_ != Phase::kOpen) return;
    phase_ = Phase::kDone;
    observer_->OnOutgoingClosed(reason);
}

}  // namespace qm
