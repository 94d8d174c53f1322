#pragma once
// What a terminal client types, turned into edited lines.
//
// Telnet clients (telnet, PuTTY) speak the telnet protocol, netcat sends raw
// bytes, and every client ends lines differently. This layer sits between the
// socket and the chat server: it strips and answers telnet commands, applies
// the line editing (backspace, tab, echo) and hands out one line at a time,
// so that the caller can change the echo between two lines (a password
// prompt must not echo the very next line, even when both arrived in one read).
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

struct telnet_t;
union telnet_event_t;

namespace qm {

class TerminalInput {
public:
    // A line without a line end keeps at most this many bytes; the rest of
    // that line is dropped.
    static constexpr std::size_t kMaxPartialLine = 8192;

    TerminalInput();
    ~TerminalInput();
    TerminalInput(const TerminalInput&) = delete;
    TerminalInput& operator=(const TerminalInput&) = delete;

    // Sent right after accept, before anything else: IAC WILL ECHO, IAC WILL
    // SGA, so that telnet clients switch to character mode and leave the echo
    // to the server.
    static std::string_view Greeting();

    // Takes raw bytes from the socket. Telnet commands are removed (also when
    // split across calls; a subnegotiation is capped) and answered by
    // appending the replies to `toPeer`. The data bytes wait for NextLine.
    void Receive(std::string_view bytes, std::string& toPeer);

    // Edits the waiting data bytes until one line is complete. Echo, when
    // `echo` is on, is appended to `toPeer`. Returns the line without its line
    // end, or nothing when the waiting bytes hold no complete line.
    // Line ends: CR LF, CR NUL, bare LF and bare CR (a CR followed by LF or
    // NUL, even in a later call, is one line end), each echoed as CR LF.
    // Backspace (8), DEL (127) and telnet EC erase the last character; tab
    // fills with spaces to the next multiple of 8; ESC with the CSI or SS3
    // sequence after it (arrow keys) is dropped.
    std::optional<std::string> NextLine(bool echo, std::string& toPeer);

    // True while received data bytes wait to be edited.
    bool HasPendingData() const;

    // At close: the partial line, if any bytes of one are held.
    std::optional<std::string> TakePartialLine();

    // Tells the client whether the server echoes (IAC WILL ECHO / IAC WONT
    // ECHO), appending the command to `toPeer` only when it changes.
    void SetServerEcho(bool on, std::string& toPeer);

    // Appends `text` to `out` with every data byte 255 doubled (IAC IAC).
    static void AppendEscaped(std::string_view text, std::string& out);

private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace qm
