#include "irc/irc_client.h"

#include <boost/asio/post.hpp>
#include <algorithm>
#include <cctype>

#include "irc/local_host.h"
#include "irc/text_split.h"

namespace qm {
namespace {

// Where events go while nobody listens.
IrcClientEvents& NoEvents() {
    static IrcClientEvents none;
    return none;
}

// A line to other clients is at most 512 bytes with CR LF, counted with the
// ":nick!user@host " the server puts in front.
constexpr std::size_t kMaxLine = 512;
// The longest "user@host" to expect while this client's own is unknown.
// "~" + a user name of 10 + "@" + a host name of 63 + slack.
constexpr std::size_t kWorstAddress = 76;

std::string Concat(std::initializer_list<std::string_view> parts) {
    std::string line;
    for (std::string_view part : parts) line += part;
    return line;
}

std::string Upper(std::string_view text) {
    std::string upper(text);
    std::transform(upper.begin(), upper.end(), upper.begin(), [](unsigned char c) { return std::toupper(c); });
    return upper;
}

}  // namespace

TIRCClient::TIRCClient(boost::asio::io_context& io, ConnectionFactory factory)
    : io_(io),
      factory_(std::move(factory)),
      events_(&NoEvents()),
      pacer_(io, [this](const std::string& line) { WriteLine(line); }, [this] { Events().OnSendQueueOverflow(); }),
      keepalive_(io, [this] { SendNow("PING :" + server_); }, [this] { PingTimedOut(); }),
      connectTimer_(io),
      users_(*this) {}

TIRCClient::~TIRCClient() {
    if (connection_) connection_->Abort();
}

void TIRCClient::SetEvents(IrcClientEvents* events) { events_ = events ? events : &NoEvents(); }

std::string TIRCClient::Nick() const { return Connected() ? currentNick_ : nick_; }

void TIRCClient::SetNick(std::string_view nick) {
    if (Connected())
        Raw(Concat({"NICK ", nick}));
    else
        nick_ = nick;
}

void TIRCClient::SetUserMode(TUserModes modes) {
    if (!Connected()) userMode_ = modes;
}

std::string TIRCClient::LocalHost() const { return LocalHostName(); }
std::string TIRCClient::LocalIPAddr() const { return LocalIPv4Address(); }

void TIRCClient::SetState(TState state) {
    if (state == state_) return;
    state_ = state;
    Events().OnStateChange(state);
}

// --- Connection lifecycle ---

void TIRCClient::Connect() {
    if (Connected()) {
        // The old connection object goes, and its events with it, so the end
        // of the old connection is reported here.
        if (connection_) connection_->Abort();
        connection_.reset();
        ConnectionEnded();
    }
    channels_.Clear();
    users_.Clear();
    ownUser_ = users_.Add(nick_, {});
    currentNick_ = nick_;
    ownAddress_.clear();
    away_ = false;
    const unsigned epoch = ++epoch_;
    connection_ = factory_();
    SetState(csConnecting);
    if (epoch != epoch_ || !connection_) return;
    connectTimer_.expires_after(timings_.connectTimeout);
    connectTimer_.async_wait([this, alive = std::weak_ptr<char>(alive_), epoch](boost::system::error_code ec) {
        if (!ec && !alive.expired() && epoch == epoch_ && !transportUp_) ConnectTimedOut();
    });
    connection_->Open(OutgoingTarget{server_, port_, tls_, tlsFingerprint_}, *this);
}

// A server that accepts the connection and then says nothing (no TLS
// handshake, say) would otherwise hold the link in csConnecting for good.
void TIRCClient::ConnectTimedOut() {
    const auto seconds = std::chrono::ceil<std::chrono::seconds>(timings_.connectTimeout).count();
    const unsigned epoch = epoch_;
    Events().OnTransportError("Connection attempt timed out after " + std::to_string(seconds) + " seconds.");
    if (epoch != epoch_) return;
    if (connection_) connection_->Abort();
    connection_.reset();
    ConnectionEnded();
}

void TIRCClient::Disconnect(bool force) {
    if (!Connected()) return;
    pacer_.Clear();
    if (!transportUp_ && !closeRequested_) {
        // An attempt still under way owes no closed event: end it after the
        // caller's handler has returned, as an event would.
        if (connection_) connection_->Abort();
        connection_.reset();
        boost::asio::post(io_, [this, alive = std::weak_ptr<char>(alive_), epoch = ++epoch_] {
            if (!alive.expired() && epoch == epoch_) ConnectionEnded();
        });
        return;
    }
    if (state_ == csConnected && !force) {
        closeRequested_ = true;
        if (connection_) connection_->Close();
    } else {
        AbortTransport();
    }
}

void TIRCClient::AbortTransport() {
    closeRequested_ = true;
    transportUp_ = false;
    ++epoch_;
    pacer_.Clear();
    if (connection_) connection_->Abort();
}

void TIRCClient::ConnectionEnded() {
    ++epoch_;
    connectTimer_.cancel();
    keepalive_.Stop();
    pacer_.Clear();
    receiver_.Clear();
    transportUp_ = false;
    closeRequested_ = false;
    connection_.reset();
    // Released after the events, so a handler that reconnects keeps its new one.
    const TUserRef ownUser = std::move(ownUser_);
    SetState(csDisconnected);
    Events().OnDisconnect();
}

void TIRCClient::PingTimedOut() {
    const auto seconds = std::chrono::ceil<std::chrono::seconds>(timings_.pingTimeout).count();
    const unsigned epoch = epoch_;
    Events().OnTransportError("Ping timeout: no answer from the server for " + std::to_string(seconds) +
                              " seconds.");
    if (epoch == epoch_) AbortTransport();
}

void TIRCClient::OnOutgoingConnected() {
    transportUp_ = true;
    connectTimer_.cancel();
    pacer_.Start({timings_.sendBurst, timings_.sendInterval, timings_.sendQueueLimit});
    keepalive_.Start(timings_.idlePing, timings_.pingTimeout);
    const unsigned epoch = epoch_;
    SetState(csLoggingOn);
    if (epoch != epoch_) return;
    Events().OnConnect();
    if (epoch != epoch_) return;
    if (!password_.empty()) Raw(Concat({"PASS ", password_}));
    Raw(Concat({"NICK ", nick_}));
    Raw(Concat({"USER ", username_, " ", LocalHost(), " ", server_, " :", realName_}));
}

void TIRCClient::OnOutgoingData(std::string_view bytes) {
    const unsigned epoch = epoch_;
    receiver_.Append(bytes);
    while (epoch == epoch_) {
        const std::optional<std::string> line = receiver_.NextLine();
        if (!line) return;
        keepalive_.LineReceived();
        Events().OnReceive(*line);
        if (epoch != epoch_) return;
        HandleLine(ParseIrcLine(*line));
    }
}

void TIRCClient::OnOutgoingFailed(const std::string& reason) {
    const unsigned epoch = epoch_;
    Events().OnTransportError(reason);
    if (epoch == epoch_) ConnectionEnded();
}

void TIRCClient::OnOutgoingClosed(const std::string& reason) {
    const unsigned epoch = epoch_;
    if (!closeRequested_) Events().OnTransportError(reason);
    // A handler may have reconnected meanwhile; the new connection stays.
    if (epoch == epoch_) ConnectionEnded();
}

// --- Sending ---

bool TIRCClient::CanSend(std::string_view line) {
    if (line.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos) {
        Events().OnError(nullptr, {}, "Line not sent: it holds a line end or NUL.");
        return false;
    }
    if (!transportUp_) {
        Events().OnError(nullptr, {}, "Not connected to server.");
        return false;
    }
    return true;
}

void TIRCClient::Raw(std::string_view line) {
    if (CanSend(line)) pacer_.Send(std::string(line));
}

void TIRCClient::SendNow(std::string line) {
    if (CanSend(line)) pacer_.SendNow(std::move(line));
}

void TIRCClient::WriteLine(const std::string& line) {
    if (!connection_) return;
    connection_->Send(line + "\r\n");
    Events().OnSend(line);
}

void TIRCClient::SendText(std::string_view command, std::string_view target, std::string_view head,
                          std::string_view text, std::string_view tail) {
    const std::string lead = Concat({command, " ", target, " :", head});
    if (!CanSend(Concat({lead, text, tail}))) return;
    const std::size_t prefix =
        3 + currentNick_.size() + (ownAddress_.empty() ? kWorstAddress : ownAddress_.size());
    const std::size_t fixed = prefix + lead.size() + tail.size() + 2;
    const std::size_t room = fixed < kMaxLine ? kMaxLine - fixed : 1;
    for (std::string_view piece : SplitAtCharacters(text, room)) pacer_.Send(Concat({lead, piece, tail}));
}

void TIRCClient::Say(std::string_view target, std::string_view text, std::string_view head) {
    SendText("PRIVMSG", target, head, text, {});
}

void TIRCClient::Notice(std::string_view target, std::string_view text) { SendText("NOTICE", target, {}, text, {}); }

void TIRCClient::CTCPQuery(std::string_view target, std::string_view command, std::string_view args) {
    const std::string head = Concat({"\x01", Upper(command), " "});
    SendText("PRIVMSG", target, head, args, "\x01");
}

void TIRCClient::Action(std::string_view target, std::string_view text) { CTCPQuery(target, "ACTION", text); }

void TIRCClient::CTCPReply(std::string_view target, std::string_view command, std::string_view args) {
    const std::string head = Concat({"\x01", command, " "});
    SendText("NOTICE", target, head, args, "\x01");
}

void TIRCClient::Join(std::string_view channel, std::string_view key) {
    Raw(key.empty() ? Concat({"JOIN ", channel}) : Concat({"JOIN ", channel, " ", key}));
}

void TIRCClient::Part(std::string_view channel, std::string_view reason) {
    Raw(reason.empty() ? Concat({"PART ", channel}) : Concat({"PART ", channel, " :", reason}));
}

void TIRCClient::Kick(std::string_view channel, std::string_view nick, std::string_view reason) {
    Raw(Concat({"KICK ", channel, " ", nick, " :", reason}));
}

void TIRCClient::Quit(std::string_view reason) { SendNow(Concat({"QUIT :", reason})); }

void TIRCClient::Mode(std::string_view target, std::string_view modes, std::string_view params) {
    Raw(params.empty() ? Concat({"MODE ", target, " ", modes}) : Concat({"MODE ", target, " ", modes, " ", params}));
}

void TIRCClient::GetTopic(std::string_view channel) { Raw(Concat({"TOPIC ", channel})); }

void TIRCClient::SetTopic(std::string_view channel, std::string_view topic) {
    Raw(Concat({"TOPIC ", channel, " :", topic}));
}

void TIRCClient::SetAwayMessage(std::string_view text) { Raw(Concat({"AWAY ", text})); }

void TIRCClient::ClearAwayMessage() { Raw("AWAY"); }

}  // namespace qm
