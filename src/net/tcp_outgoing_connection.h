#pragma once
// An outgoing connection over TCP, or TLS over TCP: the host name is
// resolved asynchronously, the connection made without blocking the loop,
// and the established connection runs on a LineSocket like every accepted
// one. With TLS the bytes pass through a TlsFilter on their way, and
// the connection counts as established once the server's certificate has
// been verified.
#include <boost/asio/ip/tcp.hpp>
#include <memory>
#include <string>
#include <string_view>

#include "net/outgoing_connection.h"
#include "net/tls_filter.h"

namespace qm {

class OutputScheduler;

class TcpOutgoingConnection final : public OutgoingConnection {
public:
    explicit TcpOutgoingConnection(OutputScheduler& scheduler);
    // Drops the connection; no event follows.
    ~TcpOutgoingConnection() override;

    void Open(const OutgoingTarget& target, OutgoingObserver& observer) override;
    void Send(std::string_view bytes) override;
    void Close() override;
    void Abort() override;

private:
    class Stream;
    // kHandshaking: TCP is up, TLS is being negotiated.
    enum class Phase { kIdle, kResolving, kConnecting, kHandshaking, kOpen, kDone };

    void Connect(const boost::asio::ip::tcp::resolver::results_type& endpoints);
    void Established(boost::asio::ip::tcp::socket socket);
    void Fail(const std::string& reason);
    // Hands the filter's records to the socket.
    void WriteTls();
    // After the filter took bytes: a verdict on the handshake, a failure, or a close.
    void CheckTls();
    // Called by the stream.
    void StreamData(std::string_view bytes);
    void StreamClosed(const std::string& reason);

    OutputScheduler& scheduler_;
    OutgoingObserver* observer_ = nullptr;
    OutgoingTarget target_;
    Phase phase_ = Phase::kIdle;
    boost::asio::ip::tcp::resolver resolver_;
    boost::asio::ip::tcp::socket connecting_;
    std::shared_ptr<Stream> stream_;
    std::unique_ptr<TlsFilter> tls_;
    // Handlers check it: an object that is gone raises nothing.
    std::shared_ptr<char> alive_ = std::make_shared<char>();
};

}  // namespace qm
