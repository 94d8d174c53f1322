#pragma once
// The two telnet ways in: plain, and inside TLS.
#include <memory>

#include "access/telnet_session.h"
#include "access/way_in.h"
#include "net/tls_server_context.h"

namespace qm {

class TelnetWay final : public WayIn {
public:
    std::string_view Label() const override { return kTelnetLabel; }
    std::shared_ptr<TerminalSession> Open(OutputScheduler& scheduler, boost::asio::ip::tcp::socket socket) override;
};

class TlsTelnetWay final : public WayIn {
public:
    std::string_view Label() const override { return kTlsLabel; }
    std::shared_ptr<TerminalSession> Open(OutputScheduler& scheduler, boost::asio::ip::tcp::socket socket) override;

    // The certificate the next handshakes present; sessions already open
    // keep theirs.
    void SetContext(std::shared_ptr<const TlsServerContext> context) { context_ = std::move(context); }
    const TlsServerContext* Context() const { return context_.get(); }

private:
    std::shared_ptr<const TlsServerContext> context_;
};

}  // namespace qm
