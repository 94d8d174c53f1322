#include "chat/client_record.h"

#include "chat/client_events.h"

#include <utility>

namespace qm {

TTcpSrvClient::TTcpSrvClient(boost::asio::io_context& io, std::shared_ptr<TerminalSession> session,
                             ClientEvents& events, std::string peerAddr, unsigned short peerPort)
    : PeerAddr(std::move(peerAddr)),
      PeerPort(peerPort),
      io_(io),
      session_(std::move(session)),
      events_(&events),
      coding_(session_->Coding()) {
    session_->Attach(*this);
}

// The session may outlive the record by a pending handler or two.
TTcpSrvClient::~TTcpSrvClient() { session_->Detach(); }

void TTcpSrvClient::ResetForConnect(TimePoint now) {
    ConnectTime = now;
    SetNick(kChoosingNickname);
    SetChannel(kChoosingNickname);
    AwayMessage.clear();
    QueryTarget.clear();
    AuxNick.clear();
    GamesWon = 0;
    FloodCount = 0;
    IsOp = false;
    ChannelLocked = true;
    IsServOp = IsChanOp = Invisible = IsSpy = Undercover = Away = false;
    AwaitingNick = true;
    AwaitingLoginPassword = AwaitingNickPassword = false;
    HasIrcVoice = true;
    ChessMode = InGame = IsAdmin = QueryMode = false;
    DepartureAnnounced = false;
    LastLineTime = {};
    FloodNoticeSent = false;
}

void TTcpSrvClient::SetNick(std::string_view nick) {
    std::string old = std::exchange(nick_, std::string(nick));
    if (index_ && old != nick_) index_->NickChanged(*this, old);
}

void TTcpSrvClient::SetChannel(std::string_view channel) {
    std::string old = std::exchange(channel_, std::string(channel));
    if (index_ && old != channel_) index_->ChannelChanged(*this, old);
}

void TTcpSrvClient::StartPromptTimer(std::chrono::milliseconds limit, std::function<void(TTcpSrvClient&)> expired) {
    if (!promptTimer_) promptTimer_ = std::make_unique<boost::asio::steady_timer>(io_);
    promptTimer_->expires_after(limit);
    promptTimer_->async_wait([weak = std::weak_ptr<TTcpSrvClient>(Self()), expired = std::move(expired)](
                                 boost::system::error_code ec) {
        const auto self = weak.lock();
        if (!ec && self && self->Connected()) expired(*self);
    });
}

void TTcpSrvClient::StopPromptTimer() {
    if (promptTimer_) promptTimer_->cancel();
}

void TTcpSrvClient::PauseFor(std::chrono::milliseconds delay) {
    PauseThen(delay, [this] { Resume(); });
}

void TTcpSrvClient::PauseThen(std::chrono::milliseconds delay, std::function<void()> then) {
    Pause();
    if (!pauseTimer_) pauseTimer_ = std::make_unique<boost::asio::steady_timer>(io_);
    pauseTimer_->expires_after(delay);
    pauseTimer_->async_wait([weak = weak_from_this(), then = std::move(then)](boost::system::error_code ec) {
        const auto self = weak.lock();
        if (!ec && self && self->Connected()) then();
    });
}

void TTcpSrvClient::OnTerminalData(std::string_view bytes) {
    editor_.Receive(bytes);
    DeliverLines();
}

// One line at a time: a line may change the echo or pause the connection
// (a password prompt), which must hold for the very next line.
void TTcpSrvClient::DeliverLines() {
    while (Connected() && !Paused() && !CloseRequested()) {
        std::string echo;
        auto line = editor_.NextLine(lineEcho_, echo);
        if (!echo.empty()) SendStr(echo);
        if (!line) return;
        if (LineMode && events_) events_->OnClientLine(*this, std::move(*line));
    }
}

void TTcpSrvClient::OnTerminalClosed(bool byPeer) {
    // Nothing waits for a closed connection; a timer's handler would keep
    // the record, and what it refers to, alive until it ran out.
    if (promptTimer_) promptTimer_->cancel();
    if (pauseTimer_) pauseTimer_->cancel();
    if (!events_) return;
    std::string partial;
    // After this side asked to close (ban, busy, kill, quit) no further line counts.
    if (byPeer && !CloseRequested() && LineMode) {
        if (auto line = editor_.TakePartialLine()) partial = std::move(*line);
    }
    events_->OnClientClosed(*this, std::move(partial));
}

void TTcpSrvClient::OnTerminalOverflow() {
    if (events_) events_->OnClientOverflow(*this);
}

}  // namespace qm
