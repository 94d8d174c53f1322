#include "net/line_socket.h"

#include <sys/socket.h>
#include <sys/uio.h>

#include <algorithm>
#include <cerrno>

#include <boost/asio/post.hpp>

#include "net/output_scheduler.h"

namespace qm {

namespace {
// One connection may not hold the loop for more than this many bytes of
// input in a row; the rest is read after the others have had their turn.
constexpr std::size_t kReadBudget = 64 * 1024;
// A connection keeps room for this many pieces of output between writes.
constexpr std::size_t kPiecesKept = 4;
}  // namespace

LineSocket::LineSocket(OutputScheduler& scheduler, boost::asio::ip::tcp::socket socket)
    : scheduler_(scheduler), socket_(std::move(socket)) {}

LineSocket::~LineSocket() {
    if (unsent_.bytes != 0) scheduler_.TrackUnsent(unsent_, 0);
}

void LineSocket::Start() {
    boost::system::error_code ec;
    socket_.non_blocking(true, ec);
    if (ec) {
        closeError_ = ec;
        Shutdown(false);
        return;
    }
    if (tls_) {
        tls_->filter->Start();
        // A client's hello goes out at once; a server waits for the client's.
        if (tls_->filter->HasOutgoing()) QueueFlush();
    }
    ReadSome();
}

void LineSocket::SendBytes(std::string_view bytes) {
    if (state_ != State::kConnected) return;
    output_.append(bytes);
    AddOwnOutput();
    QueueFlush();
}

void LineSocket::SendShared(const SharedBytes& bytes) {
    if (state_ != State::kConnected) return;
    if (waitingWritable_) {
        // Not written this round: it keeps a copy of its own.
        output_.append(scheduler_.SharedData(bytes), bytes.size);
        AddOwnOutput();
    } else {
        AddPiece({bytes.offset, bytes.size, true});
    }
    QueueFlush();
}

void LineSocket::AddOwnOutput() {
    if (output_.size() == ownQueued_) return;
    AddPiece({ownQueued_, output_.size() - ownQueued_, false});
    ownQueued_ = output_.size();
}

void LineSocket::AddPiece(Piece piece) {
    pending_ += piece.size;
    if (!pieces_.empty()) {
        Piece& last = pieces_.back();
        // A member that hears every line of a round holds one piece for all.
        if (last.shared == piece.shared && last.offset + last.size == piece.offset) {
            last.size += piece.size;
            return;
        }
    }
    pieces_.push_back(piece);
}

void LineSocket::QueueFlush() {
    if (pending_ > kMaxPendingOutput) {
        // Output held back for the end of the round does not count against
        // the peer: write what the kernel takes now, and drop the peer only
        // if its socket is full as well.
        if (!waitingWritable_) Flush();
        if (state_ != State::kConnected) return;
        if (pending_ > kMaxPendingOutput) {
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
    boost::asio::post(scheduler_.io(), [self = shared_from_this()] {
        if (self->state_ != State::kConnected) return;
        self->OnResumed();
        if (!self->readingPaused_ && !self->waitingReadable_ && !self->HasUndeliveredInput())
            self->ReadSome();
    });
}

void LineSocket::ReadSome() {
    std::size_t budget = kReadBudget;
    while (state_ == State::kConnected && !readingPaused_) {
        auto [buffer, capacity] = scheduler_.ReadBuffer();
        boost::system::error_code ec;
        std::size_t n = socket_.read_some(boost::asio::buffer(buffer, capacity), ec);
        if (ec == boost::asio::error::would_block || ec == boost::asio::error::try_again) {
            WaitReadable();
            return;
        }
        if (ec || n == 0) {
            closeError_ = ec;
            Shutdown(true);
            return;
        }
        scheduler_.NoteInput();
        if (tls_) {
            if (!Decrypt(std::string_view(buffer, n))) return;
        } else {
            OnReceived(std::string_view(buffer, n));
        }
        if (n >= budget) {
            boost::asio::post(scheduler_.io(), [self = shared_from_this()] { self->ReadSome(); });
            return;
        }
        budget -= n;
    }
}

bool LineSocket::Decrypt(std::string_view ciphertext) {
    // Only needed during this call: one buffer serves every connection.
    static thread_local std::string plaintext;
    plaintext.clear();
    const bool wasReady = Ready();
    TlsFilter& filter = *tls_->filter;
    filter.FromNetwork(ciphertext, plaintext);
    // What came before a close_notify still counts.
    if (!plaintext.empty()) OnReceived(plaintext);
    if (state_ != State::kConnected) return false;
    const auto tls = filter.state();
    if (tls == TlsFilter::State::kFailed || tls == TlsFilter::State::kClosed) {
        SendFinalRecords();
        Shutdown(true);
        return false;
    }
    // Handshake records to answer, or output that waited for the handshake.
    if (filter.HasOutgoing() || (!wasReady && Ready() && pending_ != 0)) QueueFlush();
    return true;
}

void LineSocket::WaitReadable() {
    waitingReadable_ = true;
    socket_.async_wait(boost::asio::socket_base::wait_read, [self = shared_from_this()](boost::system::error_code ec) {
        self->waitingReadable_ = false;
        if (!ec) self->ReadSome();
    });
}

void LineSocket::Flush() {
    flushQueued_ = false;
    if (state_ != State::kConnected || waitingWritable_) return;
    if (closeRequested_ && !Ready()) {
        // Before its handshake the session has nobody to speak to.
        Shutdown(false);
        return;
    }
    const bool full = tls_ ? WriteTls() : WritePieces();
    if (state_ != State::kConnected) return;
    if (pending_ != 0) {
        // Output held for a TLS handshake waits for the peer's next
        // records, not for the socket.
        KeepUnsentAsOwn();
        if (full) WaitWritable();
        TrackUnsent();
        return;
    }
    // An idle connection keeps no buffer from its last burst of output.
    scheduler_.NoteOutputReleased(output_.capacity());
    std::string().swap(output_);
    ownQueued_ = 0;
    if (pieces_.capacity() > kPiecesKept) std::vector<Piece>().swap(pieces_);
    else pieces_.clear();
    if (tls_) std::string().swap(tls_->wire);
    TrackUnsent();
    if (closeRequested_) {
        if (tls_) {
            tls_->filter->Shutdown();
            SendFinalRecords();
        }
        boost::system::error_code ignored;
        socket_.shutdown(boost::asio::socket_base::shutdown_send, ignored);
        Shutdown(false);
    }
}

const char* LineSocket::PieceData(const Piece& piece) const {
    return piece.shared ? scheduler_.SharedData({piece.offset, piece.size}) : output_.data() + piece.offset;
}

bool LineSocket::Took(ssize_t& n, bool& full) {
    if (n >= 0) return true;
    if (errno == EINTR) {
        n = 0;
        return true;
    }
    full = errno == EAGAIN || errno == EWOULDBLOCK;
    if (!full) {
        closeError_ = boost::system::error_code(errno, boost::system::system_category());
        Shutdown(false);
    }
    return false;
}

bool LineSocket::WritePieces() {
    constexpr std::size_t kPiecesPerWrite = 64;
    while (pending_ != 0) {
        iovec parts[kPiecesPerWrite];
        const std::size_t count = std::min(pieces_.size(), kPiecesPerWrite);
        for (std::size_t i = 0; i < count; ++i) {
            parts[i] = {const_cast<char*>(PieceData(pieces_[i])), pieces_[i].size};
        }
        msghdr message{};
        message.msg_iov = parts;
        message.msg_iovlen = count;
        ssize_t n = ::sendmsg(socket_.native_handle(), &message, MSG_NOSIGNAL);
        bool full = false;
        if (!Took(n, full)) return full;
        Consume(static_cast<std::size_t>(n));
    }
    return false;
}

bool LineSocket::WriteTls() {
    TlsFilter& filter = *tls_->filter;
    std::string& wire = tls_->wire;
    std::size_t& sent = tls_->sent;
    if (Ready() && !pieces_.empty()) {
        for (const Piece& piece : pieces_) filter.ToNetwork(std::string_view(PieceData(piece), piece.size));
        pieces_.clear();
        output_.clear();
        ownQueued_ = 0;
        if (filter.state() == TlsFilter::State::kFailed) {
            Shutdown(false);
            return false;
        }
    }
    filter.TakeOutgoing(wire);
    // What waits now: the records, and output held for the handshake.
    pending_ = wire.size() - sent;
    for (const Piece& piece : pieces_) pending_ += piece.size;
    while (sent < wire.size()) {
        ssize_t n = ::send(socket_.native_handle(), wire.data() + sent, wire.size() - sent, MSG_NOSIGNAL);
        bool full = false;
        if (!Took(n, full)) return full;
        sent += static_cast<std::size_t>(n);
        pending_ -= static_cast<std::size_t>(n);
    }
    wire.clear();
    sent = 0;
    return false;
}

void LineSocket::SendFinalRecords() {
    // They would land inside an unfinished record.
    if (tls_->sent != tls_->wire.size()) return;
    std::string records;
    tls_->filter->TakeOutgoing(records);
    if (!records.empty())
        (void)::send(socket_.native_handle(), records.data(), records.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
}

void LineSocket::Consume(std::size_t sent) {
    pending_ -= sent;
    std::size_t done = 0;
    while (sent != 0) {
        Piece& piece = pieces_[done];
        const std::size_t taken = std::min(sent, piece.size);
        piece.offset += taken;
        piece.size -= taken;
        sent -= taken;
        if (piece.size == 0) ++done;
    }
    pieces_.erase(pieces_.begin(), pieces_.begin() + static_cast<std::ptrdiff_t>(done));
}

void LineSocket::KeepUnsentAsOwn() {
    const bool holdsShared = std::any_of(pieces_.begin(), pieces_.end(), [](const Piece& p) { return p.shared; });
    if (!holdsShared) return;
    std::string unsent;
    unsent.reserve(pending_);
    for (const Piece& piece : pieces_) unsent.append(PieceData(piece), piece.size);
    output_ = std::move(unsent);
    ownQueued_ = output_.size();
    pieces_.assign(1, Piece{0, output_.size(), false});
}

void LineSocket::ShedOutput() {
    if (!waitingWritable_) Flush();
    if (state_ != State::kConnected || unsent_.bytes == 0) return;
    OnOutputOverflow();
    Close();
}

void LineSocket::WaitWritable() {
    waitingWritable_ = true;
    socket_.async_wait(boost::asio::socket_base::wait_write, [self = shared_from_this()](boost::system::error_code ec) {
        self->waitingWritable_ = false;
        if (!ec) self->Flush();
    });
}

void LineSocket::Shutdown(bool byPeer) {
    if (state_ == State::kClosed) return;
    state_ = State::kClosed;
    boost::system::error_code ignored;
    socket_.close(ignored);
    std::string().swap(output_);
    if (tls_) {
        std::string().swap(tls_->wire);
        tls_->sent = 0;
    }
    std::vector<Piece>().swap(pieces_);
    ownQueued_ = 0;
    pending_ = 0;
    TrackUnsent();
    if (scheduler_.ShuttingDown()) return;
    // The close event never runs inside the handler that caused it.
    boost::asio::post(scheduler_.io(), [self = shared_from_this(), byPeer] { self->OnClosed(byPeer); });
}

}  // namespace qm
