#include "net/line_socket.h"

#include <asio/post.hpp>

#include "net/output_scheduler.h"

namespace qm {

namespace {
// One connection may not hold the loop for more than this many bytes of
// input in a row; the rest is read after the others have had their turn.
constexpr std::size_t kReadBudget = 64 * 1024;
}  // namespace

LineSocket::LineSocket(OutputScheduler& scheduler, asio::ip::tcp::socket socket)
    : scheduler_(scheduler), socket_(std::move(socket)) {}

LineSocket::~LineSocket() {
    if (unsent_.bytes != 0) scheduler_.TrackUnsent(unsent_, 0);
}

void LineSocket::Start() {
    std::error_code ec;
    socket_.non_blocking(true, ec);
    if (ec) {
        closeError_ = ec;
        Shutdown(false);
        return;
    }
    ReadSome();
}

void LineSocket::SendBytes(std::string_view bytes) {
    if (state_ != State::kConnected) return;
    output_.append(bytes);
    QueueFlush();
}

void LineSocket::QueueFlush() {
    if (output_.size() - outputSent_ > kMaxPendingOutput) {
        // Output held back for the end of the round does not count against
        // the peer: write what the kernel takes now, and drop the peer only
        // if its socket is full as well.
        if (!waitingWritable_) Flush();
        if (state_ != State::kConnected) return;
        if (output_.size() - outputSent_ > kMaxPendingOutput) {
            OnOutputOverflow();
            Close();
            return;
        }
    }
    if (waitingWritable_) {
        // Only a peer whose socket is full holds output that the limit on
        // all of it counts; a peer that keeps up has its output written at
        // the end of the round, and counting every line of it on the way
        // cost a login storm a sixth of its speed.
        TrackUnsent();
        return;
    }
    if (flushQueued_) return;
    flushQueued_ = true;
    scheduler_.QueueFlush(shared_from_this());
}

void LineSocket::CloseDelayed() {
    if (state_ != State::kConnected || closeRequested_) return;
    closeRequested_ = true;
    QueueFlush();
}

void LineSocket::Close() { Shutdown(false); }

void LineSocket::Pause() { readingPaused_ = true; }

void LineSocket::Resume() {
    if (!readingPaused_) return;
    readingPaused_ = false;
    asio::post(scheduler_.io(), [self = shared_from_this()] {
        if (self->state_ != State::kConnected) return;
        self->OnResumed();
        if (!self->readingPaused_ && !self->waitingReadable_ && !self->HasUndeliveredInput())
            self->ReadSome();
    });
}

void LineSocket::PauseFor(std::chrono::milliseconds delay) {
    PauseThen(delay, [this] { Resume(); });
}

void LineSocket::PauseThen(std::chrono::milliseconds delay, std::function<void()> then) {
    Pause();
    if (!pauseTimer_) pauseTimer_ = std::make_unique<asio::steady_timer>(scheduler_.io());
    pauseTimer_->expires_after(delay);
    // The handler keeps the connection alive, and with it whatever `then` refers to.
    pauseTimer_->async_wait([self = shared_from_this(), then = std::move(then)](std::error_code ec) {
        if (!ec && self->state_ == State::kConnected) then();
    });
}

void LineSocket::ReadSome() {
    std::size_t budget = kReadBudget;
    while (state_ == State::kConnected && !readingPaused_) {
        auto [buffer, capacity] = scheduler_.ReadBuffer();
        std::error_code ec;
        std::size_t n = socket_.read_some(asio::buffer(buffer, capacity), ec);
        if (ec == asio::error::would_block || ec == asio::error::try_again) {
            WaitReadable();
            return;
        }
        if (ec || n == 0) {
            closeError_ = ec;
            Shutdown(true);
            return;
        }
        scheduler_.NoteInput();
        OnReceived(std::string_view(buffer, n));
        if (n >= budget) {
            asio::post(scheduler_.io(), [self = shared_from_this()] { self->ReadSome(); });
            return;
        }
        budget -= n;
    }
}

void LineSocket::WaitReadable() {
    waitingReadable_ = true;
    socket_.async_wait(asio::socket_base::wait_read, [self = shared_from_this()](std::error_code ec) {
        self->waitingReadable_ = false;
        if (!ec) self->ReadSome();
    });
}

void LineSocket::Flush() {
    flushQueued_ = false;
    if (state_ != State::kConnected || waitingWritable_) return;
    while (outputSent_ < output_.size()) {
        std::error_code ec;
        std::size_t n =
            socket_.write_some(asio::buffer(output_.data() + outputSent_, output_.size() - outputSent_), ec);
        if (ec == asio::error::would_block || ec == asio::error::try_again) {
            WaitWritable();
            TrackUnsent();
            return;
        }
        if (ec) {
            closeError_ = ec;
            Shutdown(false);
            return;
        }
        outputSent_ += n;
    }
    // An idle connection keeps no buffer from its last burst of output.
    scheduler_.NoteOutputReleased(output_.capacity());
    std::string().swap(output_);
    outputSent_ = 0;
    TrackUnsent();
    if (closeRequested_) {
        std::error_code ignored;
        socket_.shutdown(asio::socket_base::shutdown_send, ignored);
        Shutdown(false);
    }
}

void LineSocket::ShedOutput() {
    if (!waitingWritable_) Flush();
    if (state_ != State::kConnected || unsent_.bytes == 0) return;
    OnOutputOverflow();
    Close();
}

void LineSocket::WaitWritable() {
    waitingWritable_ = true;
    socket_.async_wait(asio::socket_base::wait_write, [self = shared_from_this()](std::error_code ec) {
        self->waitingWritable_ = false;
        if (!ec) self->Flush();
    });
}

void LineSocket::Shutdown(bool byPeer) {
    if (state_ == State::kClosed) return;
    state_ = State::kClosed;
    std::error_code ignored;
    socket_.close(ignored);
    if (pauseTimer_) pauseTimer_->cancel();
    std::string().swap(output_);
    outputSent_ = 0;
    TrackUnsent();
    if (scheduler_.ShuttingDown()) return;
    // The close event never runs inside the handler that caused it.
    asio::post(scheduler_.io(), [self = shared_from_this(), byPeer] { self->OnClosed(byPeer); });
}

}  // namespace qm
