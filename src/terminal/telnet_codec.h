#pragma once
// The telnet side of a terminal connection (telnet, PuTTY in telnet mode,
// and plain netcat, which sends no telnet commands at all): the greeting
// that asks the client to leave the echo to the server, the removal and
// answering of telnet commands in what the client sends, and the doubling
// of byte 255 in what goes to it. What remains of the client's bytes are
// the data bytes the line editor works on.
#include <memory>
#include <string>
#include <string_view>

struct telnet_t;

namespace qm {

class TelnetCodec {
public:
    TelnetCodec();
    ~TelnetCodec();
    TelnetCodec(const TelnetCodec&) = delete;
    TelnetCodec& operator=(const TelnetCodec&) = delete;

    // Sent right after accept, before anything else: IAC WILL ECHO, IAC WILL
    // SGA, so that telnet clients switch to character mode and leave the echo
    // to the server.
    static std::string_view Greeting();

    // Takes raw bytes from the peer. Telnet commands are removed (also when
    // split across calls; a subnegotiation is capped) and answered by
    // appending the replies to `toPeer`; telnet EC becomes a Backspace. The
    // data bytes are appended to `data`.
    void Receive(std::string_view bytes, std::string& data, std::string& toPeer);

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
