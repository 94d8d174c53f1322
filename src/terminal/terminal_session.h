#pragma once
// A user's terminal as the chat sees it, whatever way it came in by (telnet,
// telnet over TLS, ...): data bytes each way, output that is bounded and
// written in the loop round's batch, reading that can be paused, and a close
// that waits for the output. Each way in does its own framing (telnet
// commands, TLS records) below this; above it, only the way's label tells
// one from another, and that only for the log.
#include <cstddef>
#include <string_view>

#include "net/output_scheduler.h"

namespace qm {

// The form text takes on the wire: telnet doubles every byte 255, the other
// ways send text as it is. A line for many recipients is put in each form
// once, whatever the number of recipients.
enum class WireCoding : unsigned char { kAsIs, kTelnet };
inline constexpr std::size_t kWireCodings = 2;
void AppendWire(WireCoding coding, std::string_view text, std::string& out);

// What the session tells the one who reads it (the chat's client record).
class TerminalSessionEvents {
public:
    virtual ~TerminalSessionEvents() = default;
    // Data bytes from the terminal, its way's framing removed.
    virtual void OnTerminalData(std::string_view bytes) = 0;
    // Reading resumed: input held back while paused may be handed on now.
    virtual void OnTerminalResumed() = 0;
    // True while received bytes wait to be handed on; reading waits too.
    virtual bool HasUndeliveredInput() const = 0;
    // The session has closed; `byPeer` when the peer closed it or it failed,
    // false when this side closed it. Raised once, never inside the call
    // that closed it.
    virtual void OnTerminalClosed(bool byPeer) = 0;
    // The peer stopped reading and too much output waits; it is dropped next.
    virtual void OnTerminalOverflow() = 0;
};

class TerminalSession {
public:
    virtual ~TerminalSession() = default;

    // The way in ("telnet", "tls"), for log lines and counters only.
    virtual std::string_view Way() const = 0;

    // Events go to `events` from now on; the way's greeting, if it has one,
    // is queued before anything else.
    virtual void Attach(TerminalSessionEvents& events) = 0;
    // No more events (the reader is going away).
    virtual void Detach() = 0;
    // Starts reading (and any handshake of the way).
    virtual void Start() = 0;

    // Queues text; the session puts it in its wire form.
    virtual void SendText(std::string_view text) = 0;
    // For a line to many: bytes in this session's wire form, kept once for
    // the loop round, and queued by each recipient without a copy.
    virtual WireCoding Coding() const = 0;
    virtual SharedBytes ShareWire(std::string_view wire) = 0;
    virtual void SendShared(const SharedBytes& wire) = 0;

    // Whether the server echoes what the user types, so that the terminal
    // does not echo it too (telnet's ECHO option).
    virtual void SetServerEcho(bool on) = 0;

    // Closes once everything queued so far has been sent, after the current
    // handler has returned. A session that has not finished its handshake
    // has no one to speak to yet: it closes without a word.
    virtual void CloseDelayed() = 0;
    // Drops the session without sending what is queued.
    virtual void Close() = 0;
    // Holds further input back (it stays unread) until Resume.
    virtual void Pause() = 0;
    virtual void Resume() = 0;

    virtual bool Connected() const = 0;
    virtual bool CloseRequested() const = 0;
    virtual bool Paused() const = 0;
    // Output waiting for a peer whose connection was found full.
    virtual std::size_t UnsentBytes() const = 0;
};

}  // namespace qm
