#pragma once
// One TCP connection, accepted or outgoing, in the loop's reactor style:
// reads are budgeted so one busy peer never starves the others, output is
// queued in one buffer with at most one write in flight and written in the
// loop round's batch, a peer that stops reading is dropped once too much
// output waits for it, and a close asked for inside a handler happens after
// the handler. With TLS, the bytes pass through a TlsFilter on their way:
// a round's output is encrypted at its flush, and nothing but the handshake
// is written before the handshake is done. What the bytes mean (telnet,
// IRC) is the subclass's business: it is told about received bytes and
// about the close.
#include <boost/asio/ip/tcp.hpp>
#include <sys/types.h>

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "net/output_scheduler.h"
#include "net/tls_filter.h"

namespace qm {

class LineSocket : public std::enable_shared_from_this<LineSocket>, public FlushTarget {
public:
    // A peer that stops reading is dropped once this much output waits for it.
    static constexpr std::size_t kMaxPendingOutput = 1 << 20;

    LineSocket(OutputScheduler& scheduler, boost::asio::ip::tcp::socket socket);
    virtual ~LineSocket();
    LineSocket(const LineSocket&) = delete;
    LineSocket& operator=(const LineSocket&) = delete;

    // Everything both ways goes through `tls` from now on; call before Start.
    void UseTls(std::unique_ptr<TlsFilter> tls) { tls_ = std::make_unique<Tls>(Tls{std::move(tls), {}, 0}); }
    bool Encrypted() const { return tls_ != nullptr; }
    // Starts reading; call once the owner holds the socket in a shared_ptr.
    void Start();
    // Application bytes can flow: there is no TLS, or its handshake is done.
    bool Ready() const { return !tls_ || tls_->filter->state() == TlsFilter::State::kOpen; }

    // Queues bytes exactly as they are to go on the wire.
    void SendBytes(std::string_view bytes);
    // Keeps bytes once for this loop round, for many sockets to SendShared.
    SharedBytes Share(std::string_view bytes) { return scheduler_.Share(bytes); }
    // Queues bytes kept by Share (in this handler) without copying them.
    void SendShared(const SharedBytes& bytes);

    // Closes once everything queued so far has been sent, after the current
    // handler has returned; before a TLS handshake is done, at once and
    // without sending anything but the handshake.
    void CloseDelayed();
    // Drops the connection without sending what is queued.
    void Close();

    // Holds back further input (its bytes stay unread) until Resume.
    void Pause();
    void Resume();

    bool Connected() const { return state_ == State::kConnected; }
    bool CloseRequested() const { return closeRequested_; }
    bool Paused() const { return readingPaused_; }
    // Output waiting for a socket that was found full: what the limit on all
    // unsent output counts (a peer that keeps up has none between rounds).
    std::size_t UnsentBytes() const { return unsent_.bytes; }

    // Writes what is queued; the scheduler calls it once per loop round.
    void Flush() override;
    // The unsent output of all sockets is over its limit and this one holds
    // the most: writes what the kernel takes now, and drops the peer (as one
    // that stopped reading) if anything is left.
    void ShedOutput() override;

protected:
    // Bytes arrived (at most one read buffer at a time).
    virtual void OnReceived(std::string_view bytes) = 0;
    // Input held while paused may be handed on now.
    virtual void OnResumed() {}
    // True while received input waits to be handed on (reading then waits too).
    virtual bool HasUndeliveredInput() const { return false; }
    // The connection is closed; `byPeer` when the peer closed it (or a read
    // failed), false when this side closed it or a write failed. Raised
    // once, never inside the call that closed it.
    virtual void OnClosed(bool byPeer) = 0;
    // The peer stopped reading; the connection is dropped right after.
    virtual void OnOutputOverflow() {}

    OutputScheduler& scheduler() { return scheduler_; }
    // For a subclass that encodes straight into the output queue: the queue
    // (nullptr once closed), to be followed by OutputAppended.
    std::string* OutputQueue() { return state_ == State::kConnected ? &output_ : nullptr; }
    void OutputAppended() {
        AddOwnOutput();
        QueueFlush();
    }
    // Why the connection failed, when a read or write failed (else empty).
    const boost::system::error_code& CloseError() const { return closeError_; }

private:
    enum class State { kConnected, kClosed };

    void ReadSome();
    // TLS: hands the plaintext of `ciphertext` on; false once the connection
    // has closed.
    bool Decrypt(std::string_view ciphertext);
    void WaitReadable();
    void WaitWritable();
    void QueueFlush();
    void Shutdown(bool byPeer);
    void TrackUnsent() { scheduler_.TrackUnsent(unsent_, pending_); }
    // The output waits as pieces, in order: runs of output_ and runs of the
    // round's shared bytes.
    struct Piece {
        std::size_t offset;
        std::size_t size;
        bool shared;
    };
    void AddPiece(Piece piece);
    const char* PieceData(const Piece& piece) const;
    // Takes bytes appended to output_ since the last call into the pieces.
    void AddOwnOutput();
    // Drops the first `sent` bytes of the pieces.
    void Consume(std::size_t sent);
    // The round's shared bytes are gone after its flush: a socket that could
    // not write them all copies what is left into output_.
    void KeepUnsentAsOwn();
    // After a write that returned `n`: true when it took `n` bytes (an
    // interrupted write took none); false when the socket is full (`full`)
    // or the write failed, which closes the connection.
    bool Took(ssize_t& n, bool& full);
    // Writes as much of the pieces as the socket takes; true when the socket
    // was found full.
    bool WritePieces();
    // TLS: encrypts the pieces once the handshake is done, and writes the
    // records; true when the socket was found full.
    bool WriteTls();
    // TLS: the records that end the session (close_notify, or the alert
    // that says why it failed), if the socket takes them at once.
    void SendFinalRecords();

    OutputScheduler& scheduler_;
    boost::asio::ip::tcp::socket socket_;
    std::string output_;
    std::vector<Piece> pieces_;
    // The end of what pieces_ takes of output_, and the bytes all pieces hold.
    std::size_t ownQueued_ = 0;
    std::size_t pending_ = 0;
    // Only a TLS connection pays for it: the filter, the records not yet
    // written, and how much of them is.
    struct Tls {
        std::unique_ptr<TlsFilter> filter;
        std::string wire;
        std::size_t sent;
    };
    std::unique_ptr<Tls> tls_;
    UnsentOutput unsent_{this};
    boost::system::error_code closeError_;
    State state_ = State::kConnected;
    bool closeRequested_ = false;
    bool flushQueued_ = false;
    bool waitingWritable_ = false;
    bool readingPaused_ = false;
    bool waitingReadable_ = false;
};

}  // namespace qm
