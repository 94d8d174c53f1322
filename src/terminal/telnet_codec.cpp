#include "terminal/telnet_codec.h"

#include <cassert>
#include <cstddef>  // libtelnet.h uses size_t without including it
#include <new>

#include <libtelnet.h>

namespace qm {

namespace {

constexpr unsigned char kBackspace = 8;

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

bool IsNegotiation(unsigned char command) {
    return command == TELNET_WILL || command == TELNET_WONT || command == TELNET_DO ||
           command == TELNET_DONT;
}

}  // namespace

struct TelnetCodec::State {
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
    std::string* data = nullptr;    // where the data bytes go during a call
    bool serverEcho = true;

    Framing framing = Framing::kData;

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
            if (data) data->append(event.data.buffer, event.data.size);
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
            if (data) data->push_back(static_cast<char>(kBackspace));
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
};


TelnetCodec::TelnetCodec() : state_(std::make_unique<State>()) {}

TelnetCodec::~TelnetCodec() = default;

std::string_view TelnetCodec::Greeting() { return {kGreeting, sizeof kGreeting}; }

void TelnetCodec::Receive(std::string_view bytes, std::string& data, std::string& toPeer) {
    State& s = *state_;
    // Only needed during this call: one buffer serves every connection.
    static thread_local std::string forward;
    s.Strip(bytes, forward);
    s.toPeer = &toPeer;
    s.data = &data;
    telnet_recv(s.telnet, forward.data(), forward.size());
    s.toPeer = nullptr;
    s.data = nullptr;
}

void TelnetCodec::SetServerEcho(bool on, std::string& toPeer) {
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

void TelnetCodec::AppendEscaped(std::string_view text, std::string& out) {
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
