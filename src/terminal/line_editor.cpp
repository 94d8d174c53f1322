#include "terminal/line_editor.h"

namespace qm {

namespace {
constexpr unsigned char kBackspace = 8;
constexpr unsigned char kTab = 9;
constexpr unsigned char kEscape = 27;
constexpr unsigned char kDelete = 127;
constexpr std::size_t kTabWidth = 8;
}  // namespace

void LineEditor::Receive(std::string_view bytes) {
    if (pendingPos_ == pending_.size()) {
        pending_.clear();
        pendingPos_ = 0;
    }
    pending_.append(bytes);
}

void LineEditor::Store(unsigned char byte, bool echo, std::string& out) {
    if (line_.size() >= kMaxPartialLine) return;
    line_.push_back(static_cast<char>(byte));
    if (echo) out.push_back(static_cast<char>(byte));
}

// Drops the bytes of an escape sequence. Returns true when `byte` was part
// of one; a byte that cannot belong to the sequence ends it and is edited
// as usual (so an Enter is never lost). An ESC followed by any other
// printable byte drops that byte too: without timing there is no telling
// Esc-then-key from Alt+key, and both are noise here. A control byte
// (Enter, Backspace) after ESC is edited as usual.
bool LineEditor::InEscape(unsigned char byte) {
    const bool printable = byte >= 0x20 && byte <= 0x7E;
    switch (escape_) {
    case Escape::kNone:
        if (byte != kEscape) return false;
        escape_ = Escape::kStart;
        return true;
    case Escape::kStart:
        if (byte == '[')
            escape_ = Escape::kCsi;
        else if (byte == 'O')
            escape_ = Escape::kSs3;
        else if (byte != kEscape)  // ESC ESC [ A is Alt+Up in some terminals
            escape_ = Escape::kNone;
        return printable || byte == kEscape;
    case Escape::kCsi:
        // Parameter and intermediate bytes 0x20-0x3F, final byte 0x40-0x7E.
        if (!printable || byte >= 0x40) escape_ = Escape::kNone;
        return printable;
    case Escape::kSs3:
        escape_ = Escape::kNone;
        return printable;
    }
    return false;
}

// Edits one byte; true when it ended the line.
bool LineEditor::Edit(unsigned char byte, bool echo, std::string& out) {
    if (afterCr_) {
        afterCr_ = false;
        if (byte == '\n' || byte == '\0') return false;
    }
    if (InEscape(byte)) return false;
    switch (byte) {
    case '\r':
        afterCr_ = true;
        [[fallthrough]];
    case '\n':
        if (echo) out.append("\r\n");
        return true;
    case '\0':
        break;  // the telnet no-operation, and padding after CR
    case kBackspace:
    case kDelete:
        if (!line_.empty()) {
            if (echo) out.append("\b \b");
            line_.pop_back();
        }
        break;
    case kTab:
        do {
            Store(' ', echo, out);
        } while (line_.size() % kTabWidth != 0 && line_.size() < kMaxPartialLine);
        break;
    default:
        Store(byte, echo, out);
        break;
    }
    return false;
}

std::optional<std::string> LineEditor::NextLine(bool echo, std::string& toPeer) {
    std::optional<std::string> result;
    while (!result && pendingPos_ < pending_.size()) {
        const auto byte = static_cast<unsigned char>(pending_[pendingPos_++]);
        if (Edit(byte, echo, toPeer)) {
            result = std::move(line_);
            line_.clear();
        }
    }
    // The LF of a CR LF that is already here goes with its line, so that
    // HasPendingData does not report a line end that was delivered.
    if (result && afterCr_ && pendingPos_ < pending_.size()) {
        const char next = pending_[pendingPos_];
        if (next == '\n' || next == '\0') {
            ++pendingPos_;
            afterCr_ = false;
        }
    }
    if (pendingPos_ == pending_.size()) {
        // An idle connection keeps no buffer from its last burst of input.
        std::string().swap(pending_);
        pendingPos_ = 0;
    }
    return result;
}

// Meant for a closing connection after NextLine has run dry: bytes still
// waiting are not part of the returned line.
std::optional<std::string> LineEditor::TakePartialLine() {
    if (line_.empty()) return std::nullopt;
    std::string line = std::move(line_);
    line_.clear();
    escape_ = Escape::kNone;
    return line;
}

}  // namespace qm
