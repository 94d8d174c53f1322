#include "terminal/terminal_input.h"

#include <cassert>
#include <cstddef>  // libtelnet.h uses size_t without including it
#include <new>

#include <libtelnet.h>

namespace qm {

namespace {

constexpr unsigned char kBackspace = 8;
constexpr unsigned char kTab = 9;
constexpr unsigned char kEscape = 27;
constexpr unsigned char kDelete = 127;
constexpr std::size_t kTabWidth = 8;

constexpr char kGreeting[] = {
    static_cast<char>(TELNET_IAC), static_cast<char>(TELNET_WILL), TELNET_TELOPT_ECHO,
    static_cast<char>(TELNET_IAC), static_cast<char>(TELNET_WILL), TELNET_TELOPT_SGA,
};

// Where the byte stream stands with respect to telnet framing. Only needed
// to cut subnegotiations out before libtelnet sees them: libtelnet buffers
// a subnegotiation up to 16 KiB and, past that, hands the rest of it on as
// ordinary data. We never use a subnegotiation (every option that has one
// is refused), so none of it is kept, however long it is.
enum class Framing {
    kData,        // ordinary bytes
    kCommand,     // after IAC (the IAC itself is held back)
    kOption,      // after IAC WILL/WONT/DO/DONT
    kSubOption,   // after IAC SB
    kSubData,     // inside a subnegotiation
    kSubCommand,  // after IAC inside a subnegotiation
};

// Escape sequences of the keys that have no place in a chat line (arrows,
// function keys). An ESC followed by any other printable byte drops that
// byte too: without timing there is no telling Esc-then-key from Alt+key,
// and both are noise here. A control byte (Enter, Backspace) after ESC is
// edited as usual.
enum class Escape { kNone, kStart, kCsi, kSs3 };

bool IsNegotiation(unsigned char command) {
    return command == TELNET_WILL || command == TELNET_WONT || command == TELNET_DO ||
           command == TELNET_DONT;
}

}  // namespace

struct TerminalInput::State {
    // libtelnet keeps a pointer to this table and reads it whenever the
    // client asks for an option, so flipping the ECHO row decides whether a
    // client's DO ECHO is accepted.
    telnet_telopt_t telopts[3] = {
        {TELNET_TELOPT_ECHO, TELNET_WILL, TELNET_DONT},
        {TELNET_TELOPT_SGA, TELNET_WILL, TELNET_DO},
        {-1, 0, 0},
    };
    telnet_t* telnet = nullptr;
    std::string* toPeer = nullptr;  // where libtelnet's output goes during a call
    bool serverEcho = true;

    Framing framing = Framing::kData;

    std::string pending;  // data bytes not yet edited
    std::size_t pendingPos = 0;

    std::string line;
    bool afterCr = false;  // an LF or NUL right after CR belongs to that line end
    Escape escape = Escape::kNone;

    State() {
        telnet = telnet_init(telopts, &State::OnEvent, 0, this);
        if (!telnet) throw std::bad_alloc();
        // The greeting goes out through the caller, before the first
        // Receive; making the same requests here puts libtelnet's option
        // state where the greeting leaves it, so the client's DO ECHO and
        // DO SGA are taken as answers and not answered again.
        std::string sent;
        toPeer = &sent;
        telnet_negotiate(telnet, TELNET_WILL, TELNET_TELOPT_ECHO);
        telnet_negotiate(telnet, TELNET_WILL, TELNET_TELOPT_SGA);
        toPeer = nullptr;
        assert(sent == Greeting());
    }

    ~State() { telnet_free(telnet); }
    State(const State&) = delete;
    State& operator=(const State&) = delete;

    static void OnEvent(telnet_t*, telnet_event_t* event, void* self) {
        static_cast<State*>(self)->Handle(*event);
    }

    void Handle(const telnet_event_t& event) {
        switch (event.type) {
        case TELNET_EV_SEND:
            if (toPeer) toPeer->append(event.data.buffer, event.data.size);
            break;
        case TELNET_EV_DATA:
            pending.append(event.data.buffer, event.data.size);
            break;
        case TELNET_EV_IAC:
            HandleCommand(event.iac.cmd);
            break;
        default:
            // Negotiation results need nothing more (the option table and
            // libtelnet's option state answer them). Warnings are protocol
            // slips of the client that libtelnet has already recovered from;
            // the fatal errors come from compression, which never starts
            // because subnegotiations never reach libtelnet.
            break;
        }
    }

    void HandleCommand(unsigned char command) {
        switch (command) {
        case TELNET_EC:
            // Erase Character is the telnet way of saying backspace.
            pending.push_back(static_cast<char>(kBackspace));
            break;
        case TELNET_AYT:
            if (toPeer) toPeer->append("\r\n[Yes]\r\n");
            break;
        default:
            // IP, AO, BREAK, NOP, GA, DM, EL: nothing to do for a chat line.
            // Ctrl-C in telnet sends IP followed by DO TIMING-MARK; the
            // refusal of the latter is what lets the client carry on.
            break;
        }
    }

    // Keeps every telnet byte for libtelnet except the subnegotiations.
    void Strip(std::string_view bytes, std::string& forward) {
        forward.clear();
        for (char ch : bytes) {
            auto byte = static_cast<unsigned char>(ch);
            switch (framing) {
            case Framing::kData:
                if (byte == TELNET_IAC)
                    framing = Framing::kCommand;
                else
                    forward.push_back(ch);
                break;
            case Framing::kCommand:
                StartCommand(byte, forward);
                break;
            case Framing::kOption:
                forward.push_back(ch);
                framing = Framing::kData;
                break;
            case Framing::kSubOption:
                framing = Framing::kSubData;
                break;
            case Framing::kSubData:
                if (byte == TELNET_IAC) framing = Framing::kSubCommand;
                break;
            case Framing::kSubCommand:
                if (byte == TELNET_IAC)
                    framing = Framing::kSubData;  // an escaped 255 inside
                else if (byte == TELNET_SE)
                    framing = Framing::kData;
                else
                    StartCommand(byte, forward);  // a client that forgot IAC SE
                break;
            }
        }
    }

    // The byte after an IAC.
    void StartCommand(unsigned char byte, std::string& forward) {
        if (byte == TELNET_SB) {
            framing = Framing::kSubOption;
            return;
        }
        forward.push_back(static_cast<char>(TELNET_IAC));
        forward.push_back(static_cast<char>(byte));
        framing = IsNegotiation(byte) ? Framing::kOption : Framing::kData;
    }

    void Echo(bool echo, std::string_view text, std::string& out) const {
        if (echo) AppendEscaped(text, out);
    }

    void Store(unsigned char byte, bool echo, std::string& out) {
        if (line.size() >= kMaxPartialLine) return;
        line.push_back(static_cast<char>(byte));
        const char ch = static_cast<char>(byte);
        Echo(echo, std::string_view(&ch, 1), out);
    }

    // Drops the bytes of an escape sequence. Returns true when `byte` was
    // part of one; a byte that cannot belong to the sequence ends it and is
    // edited as usual (so an Enter is never lost).
    bool InEscape(unsigned char byte) {
        const bool printable = byte >= 0x20 && byte <= 0x7E;
        switch (escape) {
        case Escape::kNone:
            if (byte != kEscape) return false;
            escape = Escape::kStart;
            return true;
        case Escape::kStart:
            if (byte == '[')
                escape = Escape::kCsi;
            else if (byte == 'O')
                escape = Escape::kSs3;
            else if (byte != kEscape)  // ESC ESC [ A is Alt+Up in some terminals
                escape = Escape::kNone;
            return printable || byte == kEscape;
        case Escape::kCsi:
            // Parameter and intermediate bytes 0x20-0x3F, final byte 0x40-0x7E.
            if (!printable || byte >= 0x40) escape = Escape::kNone;
            return printable;
        case Escape::kSs3:
            escape = Escape::kNone;
            return printable;
        }
        return false;
    }

    // Edits one data byte; true when it ended the line.
    bool Edit(unsigned char byte, bool echo, std::string& out) {
        if (afterCr) {
            afterCr = false;
            if (byte == '\n' || byte == '\0') return false;
        }
        if (InEscape(byte)) return false;
        switch (byte) {
        case '\r':
            afterCr = true;
            [[fallthrough]];
        case '\n':
            Echo(echo, "\r\n", out);
            return true;
        case '\0':
            break;  // the telnet no-operation
        case kBackspace:
        case kDelete:
            if (!line.empty()) {
                Echo(echo, "\b \b", out);
                line.pop_back();
            }
            break;
        case kTab:
            do {
                Store(' ', echo, out);
            } while (line.size() % kTabWidth != 0 && line.size() < kMaxPartialLine);
            break;
        default:
            Store(byte, echo, out);
            break;
        }
        return false;
    }
};

TerminalInput::TerminalInput() : state_(std::make_unique<State>()) {}

TerminalInput::~TerminalInput() = default;

std::string_view TerminalInput::Greeting() { return {kGreeting, sizeof kGreeting}; }

void TerminalInput::Receive(std::string_view bytes, std::string& toPeer) {
    State& s = *state_;
    if (s.pendingPos == s.pending.size()) {
        s.pending.clear();
        s.pendingPos = 0;
    }
    // Only needed during this call: one buffer serves every connection.
    static thread_local std::string forward;
    s.Strip(bytes, forward);
    s.toPeer = &toPeer;
    telnet_recv(s.telnet, forward.data(), forward.size());
    s.toPeer = nullptr;
}

std::optional<std::string> TerminalInput::NextLine(bool echo, std::string& toPeer) {
    State& s = *state_;
    std::optional<std::string> result;
    while (!result && s.pendingPos < s.pending.size()) {
        const auto byte = static_cast<unsigned char>(s.pending[s.pendingPos++]);
        if (s.Edit(byte, echo, toPeer)) {
            result = std::move(s.line);
            s.line.clear();
        }
    }
    // The LF of a CR LF that is already here goes with its line, so that
    // HasPendingData does not report a line end that was delivered.
    if (result && s.afterCr && s.pendingPos < s.pending.size()) {
        const char next = s.pending[s.pendingPos];
        if (next == '\n' || next == '\0') {
            ++s.pendingPos;
            s.afterCr = false;
        }
    }
    if (s.pendingPos == s.pending.size()) {
        // An idle connection keeps no buffer from its last burst of input.
        std::string().swap(s.pending);
        s.pendingPos = 0;
    }
    return result;
}

bool TerminalInput::HasPendingData() const { return state_->pendingPos < state_->pending.size(); }

// Meant for a closing connection after NextLine has run dry: bytes still
// waiting in the pending buffer are not part of the returned line.
std::optional<std::string> TerminalInput::TakePartialLine() {
    State& s = *state_;
    if (s.line.empty()) return std::nullopt;
    std::string line = std::move(s.line);
    s.line.clear();
    s.escape = Escape::kNone;
    return line;
}

void TerminalInput::SetServerEcho(bool on, std::string& toPeer) {
    State& s = *state_;
    if (on == s.serverEcho) return;
    s.serverEcho = on;
    s.telopts[0].us = on ? TELNET_WILL : TELNET_WONT;
    s.toPeer = &toPeer;
    // libtelnet follows RFC 1143: while an earlier request is unanswered the
    // new wish is queued and sent once the client's answer arrives.
    telnet_negotiate(s.telnet, on ? TELNET_WILL : TELNET_WONT, TELNET_TELOPT_ECHO);
    s.toPeer = nullptr;
}

void TerminalInput::AppendEscaped(std::string_view text, std::string& out) {
    std::size_t start = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (static_cast<unsigned char>(text[i]) == TELNET_IAC) {
            out.append(text.substr(start, i + 1 - start));
            out.push_back(static_cast<char>(TELNET_IAC));
            start = i + 1;
        }
    }
    out.append(text.substr(start));
}

}  // namespace qm
