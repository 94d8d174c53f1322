#include "chat/client_record.h"

#include "chat/client_events.h"
#include "net/output_scheduler.h"

#include <utility>

namespace qm {

TTcpSrvClient::TTcpSrvClient(OutputScheduler& scheduler, boost::asio::ip::tcp::socket socket, ClientEvents& events)
    : LineSocket(scheduler, std::move(socket)), events_(&events) {}

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

void TTcpSrvClient::SendStr(std::string_view text) {
    std::string* output = OutputQueue();
    if (!output) return;
    TerminalInput::AppendEscaped(text, *output);
    OutputAppended();
}

void TTcpSrvClient::StartPromptTimer(std::chrono::milliseconds limit, std::function<void(TTcpSrvClient&)> expired) {
    if (!promptTimer_) promptTimer_ = std::make_unique<boost::asio::steady_timer>(scheduler().io());
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

void TTcpSrvClient::SyncEchoOption() {
    std::string command;
    input_.SetServerEcho(LineEcho() || AwaitingPassword(), command);
    if (!command.empty()) SendBytes(command);
}

void TTcpSrvClient::OnReceived(std::string_view bytes) {
    std::string replies;
    input_.Receive(bytes, replies);
    if (!replies.empty()) SendBytes(replies);
    DeliverLines();
}

// One line at a time: a line may change the echo or pause the connection
// (a password prompt), which must hold for the very next line.
void TTcpSrvClient::DeliverLines() {
    while (Connected() && !Paused() && !CloseRequested()) {
        std::string echo;
        auto line = input_.NextLine(lineEcho_, echo);
        if (!echo.empty()) SendBytes(echo);
        if (!line) return;
        if (LineMode && events_) events_->OnClientLine(*this, std::move(*line));
    }
}

void TTcpSrvClient::OnClosed(bool byPeer) {
    if (!events_) return;
    std::string partial;
    // After this side asked to close (ban, busy, kill, quit) no further line counts.
    if (byPeer && !CloseRequested() && LineMode) {
        if (auto line = input_.TakePartialLine()) partial = std::move(*line);
    }
    events_->OnClientClosed(*this, std::move(partial));
}

void TTcpSrvClient::OnOutputOverflow() {
    if (events_) events_->OnClientOverflow(*this);
}

}  // namespace qm
