#pragma once
// One accepted TCP connection of the listening server: reads raw bytes,
// hands out edited lines one at a time, queues output and closes on request.
#include <asio/ip/tcp.hpp>
#include <asio/steady_timer.hpp>
#include <chrono>
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "server/terminal_input.h"

namespace qm {

class TWSocketServer;

class TWSocketClient : public std::enable_shared_from_this<TWSocketClient> {
public:
    // A peer that stops reading is dropped once this much output waits for it.
    static constexpr std::size_t kMaxPendingOutput = 1 << 20;

    TWSocketClient(TWSocketServer& server, asio::ip::tcp::socket socket);
    virtual ~TWSocketClient();

    // Queues text for the peer; data bytes 255 go out doubled, as telnet wants.
    void SendStr(std::string_view text);
    // Queues bytes that are already in wire form (escaped with TerminalInput::AppendEscaped).
    void SendWire(std::string_view bytes);

    // Closes once everything queued so far has been sent, after the current
    // handler has returned.
    void CloseDelayed();
    // Drops the connection without sending what is queued.
    void Close();

    // Holds back further lines (their bytes stay unread) until Resume.
    void Pause();
    void Resume();
    // Pause, and Resume after `delay`.
    void PauseFor(std::chrono::milliseconds delay);

    // Whether the server echoes; also what it tells the telnet client.
    bool LineEcho() const { return lineEcho_; }
    void SetLineEcho(bool on) { lineEcho_ = on; }
    // Telnet's echo option: the server claims it while it echoes and while a
    // password is typed, so that the client never shows a password itself.
    void SetServerEchoOption(bool on);

    bool Connected() const { return state_ == State::kConnected; }
    bool CloseRequested() const { return closeRequested_; }

    std::string PeerAddr;
    std::string PeerPort;
    // Off until the connect handler turns it on; without it no line is delivered.
    bool LineMode = false;

private:
    friend class TWSocketServer;
    enum class State { kConnected, kClosed };

    void Start();
    void ReadSome();
    void WaitReadable();
    void DeliverLines();
    void Flush();
    void WaitWritable();
    void Shutdown(bool deliverPartial);
    void QueueFlush();

    TWSocketServer& server_;
    asio::ip::tcp::socket socket_;
    TerminalInput input_;
    std::string output_;
    std::size_t outputSent_ = 0;
    State state_ = State::kConnected;
    bool lineEcho_ = true;
    bool closeRequested_ = false;
    bool flushQueued_ = false;
    bool waitingWritable_ = false;
    bool readingPaused_ = false;
    bool waitingReadable_ = false;
    // Made when first needed: most connections never pause.
    std::unique_ptr<asio::steady_timer> pauseTimer_;
};

}  // namespace qm
