#pragma once
// What a user types, turned into edited lines: the server echoes and edits,
// so that any terminal works the same, whatever way it came in by. Lines
// are handed out one at a time, so that the caller can change the echo
// between two lines (a password prompt must not echo the very next line,
// even when both arrived in one read).
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace qm {

class LineEditor {
public:
    // A line without a line end keeps at most this many bytes; the rest of
    // that line is dropped.
    static constexpr std::size_t kMaxPartialLine = 8192;

    // Data bytes from the terminal; they wait for NextLine.
    void Receive(std::string_view bytes);

    // Edits the waiting bytes until one line is complete. Echo, when `echo`
    // is on, is appended to `toPeer` as text (the connection puts it in its
    // wire form). Returns the line without its line end, or nothing when the
    // waiting bytes hold no complete line.
    // Line ends: CR LF, CR NUL, bare LF and bare CR (a CR followed by LF or
    // NUL, even in a later call, is one line end), each echoed as CR LF.
    // Backspace (8) and DEL (127) erase the last character; tab fills with
    // spaces to the next multiple of 8; ESC with the CSI or SS3 sequence
    // after it (arrow keys) is dropped.
    std::optional<std::string> NextLine(bool echo, std::string& toPeer);

    // True while received bytes wait to be edited.
    bool HasPendingData() const { return pendingPos_ < pending_.size(); }

    // At close: the partial line, if any bytes of one are held.
    std::optional<std::string> TakePartialLine();

private:
    // Escape sequences of the keys that have no place in a chat line
    // (arrows, function keys).
    enum class Escape { kNone, kStart, kCsi, kSs3 };

    void Store(unsigned char byte, bool echo, std::string& out);
    bool InEscape(unsigned char byte);
    bool Edit(unsigned char byte, bool echo, std::string& out);

    std::string pending_;  // bytes not yet edited
    std::size_t pendingPos_ = 0;
    std::string line_;
    bool afterCr_ = false;  // an LF or NUL right after CR belongs to that line end
    Escape escape_ = Escape::kNone;
};

}  // namespace qm
