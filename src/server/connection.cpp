#include "server/connection.h"

#include <asio/post.hpp>

#include "server/listening_server.h"

namespace qm {

namespace {
// One connection may not hold the loop for more than this many bytes of
// input in a row; the rest is read after the others have had their turn.
constexpr std::size_t kReadBudget = 64 * 1024;
}  // namespace

TWSocketClient::TWSocketClient(TWSocketServer& server, asio::ip::tcp::socket socket)
    : server_(server), socket_(std::move(socket)) {}

TWSocketClient::~TWSocketClient() = default;

void TWSocketClient::Start() {
    std::error_code ec;
    socket_.non_blocking(true, ec);
    if (ec) {
        Shutdown(false);
        return;
    }
    ReadSome();
}

void TWSocketClient::SendStr(std::string_view text) {
    if (state_ != State::kConnected) return;
    TerminalInput::AppendEscaped(text, output_);
    QueueFlush();
}

void TWSocketClient::SendWire(std::string_view bytes) {
    if (state_ != State::kConnected) return;
    output_.append(bytes);
    QueueFlush();
}

void TWSocketClient::QueueFlush() {
    if (output_.size() - outputSent_ > kMaxPendingOutput) {
        server_.HandleOverflow(static_cast<TTcpSrvClient&>(*this));
        Close();
        return;
    }
    if (flushQueued_ || waitingWritable_) return;
    flushQueued_ = true;
    server_.QueueFlush(shared_from_this());
}

void TWSocketClient::CloseDelayed() {
    if (state_ != State::kConnected || closeRequested_) return;
    closeRequested_ = true;
    QueueFlush();
}

void TWSocketClient::Close() { Shutdown(false); }

void TWSocketClient::Pause() { readingPaused_ = true; }

void TWSocketClient::Resume() {
    if (!readingPaused_) return;
    readingPaused_ = false;
    asio::post(server_.io(), [self = shared_from_this()] {
        self->DeliverLines();
        if (!self->readingPaused_ && !self->waitingReadable_ && !self->input_.HasPendingData())
            self->ReadSome();
    });
}

void TWSocketClient::PauseFor(std::chrono::milliseconds delay) {
    Pause();
    if (!pauseTimer_) pauseTimer_ = std::make_unique<asio::steady_timer>(server_.io());
    pauseTimer_->expires_after(delay);
    pauseTimer_->async_wait([self = shared_from_this()](std::error_code ec) {
        if (!ec) self->Resume();
    });
}

void TWSocketClient::SetServerEchoOption(bool on) {
    std::string command;
    input_.SetServerEcho(on, command);
    if (!command.empty()) SendWire(command);
}

void TWSocketClient::ReadSome() {
    std::size_t budget = kReadBudget;
    while (state_ == State::kConnected && !readingPaused_) {
        auto [buffer, capacity] = server_.ReadBuffer();
        std::error_code ec;
        std::size_t n = socket_.read_some(asio::buffer(buffer, capacity), ec);
        if (ec == asio::error::would_block || ec == asio::error::try_again) {
            WaitReadable();
            return;
        }
        if (ec || n == 0) {
            Shutdown(true);
            return;
        }
        std::string replies;
        input_.Receive(std::string_view(buffer, n), replies);
        if (!replies.empty()) SendWire(replies);
        DeliverLines();
        if (n >= budget) {
            asio::post(server_.io(), [self = shared_from_this()] { self->ReadSome(); });
            return;
        }
        budget -= n;
    }
}

void TWSocketClient::WaitReadable() {
    waitingReadable_ = true;
    socket_.async_wait(asio::socket_base::wait_read,
                       [self = shared_from_this()](std::error_code ec) {
                           self->waitingReadable_ = false;
                           if (!ec) self->ReadSome();
                       });
}

void TWSocketClient::DeliverLines() {
    while (state_ == State::kConnected && !readingPaused_ && !closeRequested_) {
        std::string echo;
        auto line = input_.NextLine(lineEcho_, echo);
        if (!echo.empty()) SendWire(echo);
        if (!line) return;
        if (LineMode) server_.DeliverLine(static_cast<TTcpSrvClient&>(*this), std::move(*line), true);
    }
}

void TWSocketClient::Flush() {
    flushQueued_ = false;
    if (state_ != State::kConnected || waitingWritable_) return;
    while (outputSent_ < output_.size()) {
        std::error_code ec;
        std::size_t n = socket_.write_some(
            asio::buffer(output_.data() + outputSent_, output_.size() - outputSent_), ec);
        if (ec == asio::error::would_block || ec == asio::error::try_again) {
            WaitWritable();
            return;
        }
        if (ec) {
            Shutdown(false);
            return;
        }
        outputSent_ += n;
    }
    // An idle connection keeps no buffer from its last burst of output.
    server_.NoteOutputReleased(output_.capacity());
    std::string().swap(output_);
    outputSent_ = 0;
    if (closeRequested_) {
        std::error_code ignored;
        socket_.shutdown(asio::socket_base::shutdown_send, ignored);
        Shutdown(false);
    }
}

void TWSocketClient::WaitWritable() {
    waitingWritable_ = true;
    socket_.async_wait(asio::socket_base::wait_write,
                       [self = shared_from_this()](std::error_code ec) {
                           self->waitingWritable_ = false;
                           if (!ec) self->Flush();
                       });
}

void TWSocketClient::Shutdown(bool deliverPartial) {
    if (state_ == State::kClosed) return;
    state_ = State::kClosed;
    std::string partial;
    if (deliverPartial && !closeRequested_) {
        if (auto line = input_.TakePartialLine()) partial = std::move(*line);
    }
    std::error_code ignored;
    socket_.close(ignored);
    if (pauseTimer_) pauseTimer_->cancel();
    std::string().swap(output_);
    if (server_.destroying_) return;
    // The disconnect event never runs inside the handler that caused it.
    asio::post(server_.io(), [self = std::static_pointer_cast<TTcpSrvClient>(shared_from_this()),
                              partial = std::move(partial)]() mutable {
        self->server_.HandleClosed(self, std::move(partial));
    });
}

}  // namespace qm
