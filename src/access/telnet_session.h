#pragma once
// The telnet way in, plain or over TLS: a terminal session on one TCP
// connection, with the telnet codec in front of the user's bytes. Over TLS
// the same telnet session runs inside the encryption (implicit TLS, as MUD
// clients and `openssl s_client` connect); nothing above tells them apart
// but the label.
#include <boost/asio/ip/tcp.hpp>
#include <memory>
#include <string>
#include <string_view>

#include "net/line_socket.h"
#include "terminal/telnet_codec.h"
#include "terminal/terminal_session.h"

namespace qm {

// The labels of the two ways.
inline constexpr std::string_view kTelnetLabel = "telnet";
inline constexpr std::string_view kTlsLabel = "tls";

class TelnetSession final : public LineSocket, public TerminalSession {
public:
    // With `tls`, everything passes through it.
    TelnetSession(OutputScheduler& scheduler, boost::asio::ip::tcp::socket socket,
                  std::unique_ptr<TlsFilter> tls = nullptr);

    std::string_view Way() const override { return Encrypted() ? kTlsLabel : kTelnetLabel; }

    void Attach(TerminalSessionEvents& events) override;
    void Detach() override { events_ = nullptr; }
    void Start() override { LineSocket::Start(); }

    void SendText(std::string_view text) override;
    WireCoding Coding() const override { return WireCoding::kTelnet; }
    SharedBytes ShareWire(std::string_view wire) override { return Share(wire); }
    void SendShared(const SharedBytes& wire) override { LineSocket::SendShared(wire); }
    void SetServerEcho(bool on) override;

    void CloseDelayed() override { LineSocket::CloseDelayed(); }
    void Close() override { LineSocket::Close(); }
    void Pause() override { LineSocket::Pause(); }
    void Resume() override { LineSocket::Resume(); }
    bool Connected() const override { return LineSocket::Connected(); }
    bool CloseRequested() const override { return LineSocket::CloseRequested(); }
    bool Paused() const override { return LineSocket::Paused(); }
    std::size_t UnsentBytes() const override { return LineSocket::UnsentBytes(); }

private:
    void OnReceived(std::string_view bytes) override;
    void OnResumed() override;
    bool HasUndeliveredInput() const override;
    void OnClosed(bool byPeer) override;
    void OnOutputOverflow() override;

    TelnetCodec codec_;
    TerminalSessionEvents* events_ = nullptr;
};

}  // namespace qm
