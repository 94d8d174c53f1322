#pragma once
// Everything the chat server knows about the user on one connection, and
// the connection itself: a terminal session of whatever way the user came
// in by, with the line editor (echo, editing, line ends) on top of it. The
// nickname and the channel change only through their setters, which keep
// the client list's indexes (by nickname, by channel) current.
#include <boost/asio/io_context.hpp>
#include <boost/asio/steady_timer.hpp>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "chat/client_index.h"
#include "storage/ascii.h"
#include "storage/clock.h"
#include "terminal/line_editor.h"
#include "terminal/terminal_session.h"

namespace qm {

class ClientEvents;

// Nickname and channel of a connection that has not chosen a nickname yet.
inline constexpr std::string_view kChoosingNickname = "Choosing nickname...";

// Names compare ignoring letter case, so the pseudo-name is reserved in every
// spelling: a channel of that name would reach everybody at the nickname
// prompt, and a nickname of that name would take mail and registration
// meant for nobody.
inline bool IsChoosingNickname(std::string_view name) { return EqualsIgnoreCase(name, kChoosingNickname); }

class TTcpSrvClient final : public std::enable_shared_from_this<TTcpSrvClient>, private TerminalSessionEvents {
public:
    // Takes the session's events; the session's greeting goes out first.
    // `peerAddr` as the log and the ban list write it.
    TTcpSrvClient(boost::asio::io_context& io, std::shared_ptr<TerminalSession> session, ClientEvents& events,
                  std::string peerAddr, unsigned short peerPort);
    ~TTcpSrvClient() override;
    TTcpSrvClient(const TTcpSrvClient&) = delete;
    TTcpSrvClient& operator=(const TTcpSrvClient&) = delete;

    // The values every field takes before the record is used.
    void ResetForConnect(TimePoint now);

    // Starts reading the session.
    void Start() { session_->Start(); }

    // Queues text for the peer, in the wire form of the session's way.
    void SendStr(std::string_view text) { session_->SendText(text); }
    // A line for many (see WireForMany): bytes in this client's wire form,
    // kept once for the loop round, and queued without a copy.
    WireCoding Coding() const { return coding_; }
    SharedBytes ShareWire(std::string_view wire) { return session_->ShareWire(wire); }
    void SendShared(const SharedBytes& wire) { session_->SendShared(wire); }

    // The way the user came in by ("telnet", "tls"), for the log.
    std::string_view Way() const { return session_->Way(); }

    // Closes once everything queued so far has been sent, after the current
    // handler has returned.
    void CloseDelayed() { session_->CloseDelayed(); }
    // Drops the connection without sending what is queued.
    void Close() { session_->Close(); }
    // Holds back further lines until Resume.
    void Pause() { session_->Pause(); }
    void Resume() { session_->Resume(); }
    // Pause, and Resume after `delay`.
    void PauseFor(std::chrono::milliseconds delay);
    // Pause, and run `then` after `delay` if the connection is still open;
    // `then` decides when to Resume.
    void PauseThen(std::chrono::milliseconds delay, std::function<void()> then);
    bool Connected() const { return session_->Connected(); }
    bool CloseRequested() const { return session_->CloseRequested(); }
    bool Paused() const { return session_->Paused(); }
    // Output waiting for a peer whose connection was found full.
    std::size_t UnsentBytes() const { return session_->UnsentBytes(); }

    // Whether the server echoes; also what it tells the terminal.
    bool LineEcho() const { return lineEcho_; }
    void SetLineEcho(bool on) { lineEcho_ = on; }
    // The terminal is told to leave the echo to the server while the server
    // echoes, and at a password prompt too, so that it never shows the password.
    void SyncEchoOption() { session_->SetServerEcho(LineEcho() || AwaitingPassword()); }

    // Stops the events of this connection (its owner is going away).
    void Detach() { events_ = nullptr; }

    std::shared_ptr<TTcpSrvClient> Self() { return shared_from_this(); }

    std::string PeerAddr;
    unsigned short PeerPort = 0;
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
    // TerminalSessionEvents
    void OnTerminalData(std::string_view bytes) override;
    void OnTerminalResumed() override { DeliverLines(); }
    bool HasUndeliveredInput() const override { return editor_.HasPendingData(); }
    void OnTerminalClosed(bool byPeer) override;
    void OnTerminalOverflow() override;
    void DeliverLines();

    boost::asio::io_context& io_;
    std::shared_ptr<TerminalSession> session_;
    ClientEvents* events_;
    ClientIndex* index_ = nullptr;
    std::uint64_t sequence_ = 0;
    std::string nick_;
    std::string channel_;
    LineEditor editor_;
    // The session's, asked once: a channel line asks it of every member.
    WireCoding coding_;
    bool lineEcho_ = true;
    // Made when first needed: most connections are never asked for a
    // password, and never pause.
    std::unique_ptr<boost::asio::steady_timer> promptTimer_;
    std::unique_ptr<boost::asio::steady_timer> pauseTimer_;
};

}  // namespace qm
