#pragma once
// Everything the chat server knows about the user on one connection, and
// the connection itself: the socket, with the terminal codec in front of it
// (telnet negotiation, line editing, echo). The nickname and the channel
// change only through their setters, which keep the client list's indexes
// (by nickname, by channel) current.
#include <boost/asio/steady_timer.hpp>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "chat/client_index.h"
#include "net/line_socket.h"
#include "storage/ascii.h"
#include "storage/clock.h"
#include "terminal/terminal_input.h"

namespace qm {

class ClientEvents;

// Nickname and channel of a connection that has not chosen a nickname yet.
inline constexpr std::string_view kChoosingNickname = "Choosing nickname...";

// Names compare ignoring letter case, so the pseudo-name is reserved in every
// spelling: a channel of that name would reach everybody at the nickname
// prompt, and a nickname of that name would take mail and registration
// meant for nobody.
inline bool IsChoosingNickname(std::string_view name) { return EqualsIgnoreCase(name, kChoosingNickname); }

class TTcpSrvClient final : public LineSocket {
public:
    TTcpSrvClient(OutputScheduler& scheduler, boost::asio::ip::tcp::socket socket, ClientEvents& events);

    // The values every field takes before the record is used.
    void ResetForConnect(TimePoint now);

    // Queues text for the peer; data bytes 255 go out doubled, as telnet wants.
    void SendStr(std::string_view text);
    // Queues bytes that are already in wire form (escaped with TerminalInput::AppendEscaped).
    void SendWire(std::string_view bytes) { SendBytes(bytes); }

    // Whether the server echoes; also what it tells the telnet client.
    bool LineEcho() const { return lineEcho_; }
    void SetLineEcho(bool on) { lineEcho_ = on; }
    // Telnet's echo option follows the echo, except at a password prompt,
    // where the server keeps it so that the client never shows the password.
    void SyncEchoOption();

    // Stops the events of this connection (its owner is going away).
    void Detach() { events_ = nullptr; }

    std::shared_ptr<TTcpSrvClient> Self() { return std::static_pointer_cast<TTcpSrvClient>(shared_from_this()); }

    std::string PeerAddr;
    std::string PeerPort;
    // Off until the connect handler turns it on; without it no line is delivered.
    bool LineMode = false;

    const std::string& Nick() const { return nick_; }
    const std::string& Channel() const { return channel_; }
    void SetNick(std::string_view nick);
    void SetChannel(std::string_view channel);

    // Where the list keeps this client: its indexes, and its place in the
    // order of connections (a higher number connected later).
    void JoinIndex(ClientIndex* index, std::uint64_t sequence) {
        index_ = index;
        sequence_ = sequence;
    }
    std::uint64_t Sequence() const { return sequence_; }

    TimePoint ConnectTime{};
    std::string AwayMessage;
    std::string QueryTarget;
    std::string AuxNick;
    int32_t GamesWon = 0;
    int32_t FloodCount = 0;
    bool IsOp = false;
    bool ChannelLocked = true;
    bool IsServOp = false;
    bool IsChanOp = false;
    bool Invisible = false;
    bool IsSpy = false;
    bool Undercover = false;
    bool Away = false;
    bool AwaitingNick = true;
    bool AwaitingLoginPassword = false;
    bool AwaitingNickPassword = false;
    bool HasIrcVoice = true;
    bool ChessMode = false;
    bool InGame = false;
    bool IsAdmin = false;
    bool QueryMode = false;

    // Set by /quit and /kill, which announce the departure themselves: later
    // lines from this connection are ignored and its disconnect sends no
    // notices. Kept per connection, so that another user who happens to have
    // the same remote port is never affected.
    bool DepartureAnnounced = false;

    // Flood protection: when the last line arrived, and whether the user has
    // been told that lines are being ignored.
    TimePoint LastLineTime{};
    bool FloodNoticeSent = false;

    bool AwaitingPassword() const { return AwaitingLoginPassword || AwaitingNickPassword; }
    // Not logged in yet: at the nickname prompt, or at the password prompt
    // of the nickname it logs in with.
    bool LoggingIn() const { return AwaitingNick || AwaitingLoginPassword; }

    // A prompt that must be answered in time: `expired` runs on the loop
    // after `limit` unless StopPromptTimer (or another start) comes first,
    // and never once the connection has closed.
    void StartPromptTimer(std::chrono::milliseconds limit, std::function<void(TTcpSrvClient&)> expired);
    void StopPromptTimer();

private:
    void OnReceived(std::string_view bytes) override;
    void OnResumed() override { DeliverLines(); }
    bool HasUndeliveredInput() const override { return input_.HasPendingData(); }
    void OnClosed(bool byPeer) override;
    void OnOutputOverflow() override;
    void DeliverLines();

    ClientEvents* events_;
    ClientIndex* index_ = nullptr;
    std::uint64_t sequence_ = 0;
    std::string nick_;
    std::string channel_;
    TerminalInput input_;
    bool lineEcho_ = true;
    // Made when first needed: most connections are never asked for a password.
    std::unique_ptr<boost::asio::steady_timer> promptTimer_;
};

}  // namespace qm
