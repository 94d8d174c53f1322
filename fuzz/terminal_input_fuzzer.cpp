// The terminal codec against whatever a client may send: telnet commands cut
// anywhere, line ends of every kind, editing keys, escape sequences, in
// reads of any size, with the echo switched between lines as a password
// prompt does.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "terminal/line_editor.h"
#include "terminal/telnet_codec.h"

namespace {

void Require(bool holds) {
    if (!holds) std::abort();
}

// A line, complete or partial, never holds a line end and stays bounded.
void CheckLine(const std::string& line) {
    Require(line.find('\r') == std::string::npos && line.find('\n') == std::string::npos);
    Require(line.size() <= qm::LineEditor::kMaxPartialLine);
}

// What goes to the peer, read back: every 255 of the text comes out doubled.
void CheckEscaping(const std::string& text) {
    std::string wire;
    qm::TelnetCodec::AppendEscaped(text, wire);
    std::string back;
    for (std::size_t i = 0; i < wire.size(); ++i) {
        back += wire[i];
        if (static_cast<unsigned char>(wire[i]) == 255) {
            Require(i + 1 < wire.size() && static_cast<unsigned char>(wire[i + 1]) == 255);
            ++i;
        }
    }
    Require(back == text);
}

}  // namespace

// The first input byte seeds how the rest is cut into reads and when the
// echo changes; the rest is what the client sends. So a seed reads as the
// bytes of a session.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    std::uint32_t choice = data[0];
    const auto next = [&choice] {
        choice = choice * 1103515245u + 12345u;
        return choice >> 16;
    };
    std::string_view bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
    // The codec in front of the editor, as the telnet way runs them.
    qm::TelnetCodec codec;
    qm::LineEditor editor;
    std::string toPeer;
    std::string typed;
    while (!bytes.empty()) {
        const std::size_t read = std::min<std::size_t>(bytes.size(), 1 + next() % 64);
        typed.clear();
        codec.Receive(bytes.substr(0, read), typed, toPeer);
        editor.Receive(typed);
        bytes.remove_prefix(read);
        // A password prompt turns the echo off between two lines.
        if (next() % 4 == 0) codec.SetServerEcho(next() % 2 == 0, toPeer);
        const bool echo = next() % 2 == 0;
        while (auto line = editor.NextLine(echo, toPeer)) {
            CheckLine(*line);
            CheckEscaping(*line);
        }
        // The replies are written and forgotten, as the socket would.
        toPeer.clear();
    }
    if (auto partial = editor.TakePartialLine()) CheckLine(*partial);
    return 0;
}
