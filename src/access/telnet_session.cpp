#include "access/telnet_session.h"

#include <utility>

namespace qm {

TelnetSession::TelnetSession(OutputScheduler& scheduler, boost::asio::ip::tcp::socket socket,
                             std::unique_ptr<TlsFilter> tls)
    : LineSocket(scheduler, std::move(socket)) {
    if (tls) UseTls(std::move(tls));
}

void TelnetSession::Attach(TerminalSessionEvents& events) {
    events_ = &events;
    SendBytes(TelnetCodec::Greeting());
}

void TelnetSession::SendText(std::string_view text) {
    // Escaped straight into the queue: a login storm sends a great deal of
    // text, and a copy per line showed in its cost.
    std::string* output = OutputQueue();
    if (!output) return;
    TelnetCodec::AppendEscaped(text, *output);
    OutputAppended();
}

void TelnetSession::SetServerEcho(bool on) {
    std::string command;
    codec_.SetServerEcho(on, command);
    if (!command.empty()) SendBytes(command);
}

void TelnetSession::OnReceived(std::string_view bytes) {
    // Only needed during this call: one buffer serves every connection.
    static thread_local std::string data;
    data.clear();
    std::string replies;
    codec_.Receive(bytes, data, replies);
    if (!replies.empty()) SendBytes(replies);
    if (events_ && !data.empty()) events_->OnTerminalData(data);
}

void TelnetSession::OnResumed() {
    if (events_) events_->OnTerminalResumed();
}

bool TelnetSession::HasUndeliveredInput() const { return events_ && events_->HasUndeliveredInput(); }

void TelnetSession::OnClosed(bool byPeer) {
    if (events_) events_->OnTerminalClosed(byPeer);
}

void TelnetSession::OnOutputOverflow() {
    if (events_) events_->OnTerminalOverflow();
}

}  // namespace qm
