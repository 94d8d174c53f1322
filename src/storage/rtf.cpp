// The small part of RTF that mail.dat needs: one paragraph per store line.
// The reader accepts what common rich-text edit controls write, skipping
// everything that is not paragraph text.
#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include <fmt/core.h>

#include "storage/mail_store.h"

namespace qm {

namespace {

// Groups that start with one of these words hold no document text.
constexpr std::string_view kDestinations[] = {
    "author", "buptim", "colorschememapping", "colortbl", "comment", "company", "creatim",
    "datastore", "doccomm", "falt", "filetbl", "fldinst", "fonttbl", "footer", "footerf", "footerl",
    "footerr", "footnote", "generator", "header", "headerf", "headerl", "headerr", "info",
    "keywords", "latentstyles", "listoverridetable", "listtable", "listtext", "object", "operator",
    "pict", "pntext", "pntxta", "pntxtb", "printim", "revtbl", "revtim", "rsidtbl", "stylesheet",
    "subject", "themedata", "title", "xmlnstbl",
};

bool IsDestination(std::string_view word) {
    for (const auto d : kDestinations)
        if (d == word) return true;
    return false;
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool IsLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

class RtfReader {
public:
    explicit RtfReader(std::string_view rtf) : in_(rtf) {}

    std::vector<std::string> Paragraphs() {
        while (pos_ < in_.size() && !finished_) Step();
        if (!current_.empty()) paragraphs_.push_back(std::move(current_));
        return std::move(paragraphs_);
    }

private:
    struct GroupState {
        bool skip = false;  // inside a destination that holds no text
        int unicodeSkip = 1;  // \ucN: fallback characters after each \uN
    };

    void Step() {
        const char c = in_[pos_++];
        switch (c) {
            case '{':
                stack_.push_back(state_);
                groupStart_ = true;
                pendingFallback_ = 0;
                return;
            case '}':
                pendingFallback_ = 0;
                if (stack_.empty()) {
                    finished_ = true;
                    return;
                }
                state_ = stack_.back();
                stack_.pop_back();
                // The closing brace of the document ends it; what follows
                // (line ends, a NUL some writers add) is not text.
                if (stack_.empty()) finished_ = true;
                return;
            case '\\':
                Control();
                return;
            case '\r':
            case '\n':
            case '\0':
                return;  // line breaks in the source are layout, not text
            default:
                groupStart_ = false;
                Emit(c);
        }
    }

    void Control() {
        if (pos_ >= in_.size()) return;
        const char c = in_[pos_];
        if (IsLetter(c)) {
            ControlWord();
            return;
        }
        ++pos_;
        const bool atGroupStart = groupStart_;
        groupStart_ = false;
        switch (c) {
            case '\'': {
                const int hi = pos_ < in_.size() ? HexValue(in_[pos_]) : -1;
                const int lo = pos_ + 1 < in_.size() ? HexValue(in_[pos_ + 1]) : -1;
                if (hi < 0 || lo < 0) return;
                pos_ += 2;
                Emit(static_cast<char>(hi * 16 + lo));
                return;
            }
            case '\\':
            case '{':
            case '}':
                Emit(c);
                return;
            case '*':
                if (atGroupStart) state_.skip = true;
                return;
            case '~':
                Emit('\xA0');
                return;
            case '_':
                Emit('-');
                return;
            case '\r':
            case '\n':
                // A backslash before a line break is an old spelling of \par.
                if (!Fallback()) EndParagraph();
                return;
            default:
                Fallback();  // \- and other symbols carry no text
        }
    }

    void ControlWord() {
        const size_t start = pos_;
        while (pos_ < in_.size() && IsLetter(in_[pos_])) ++pos_;
        const std::string_view word = in_.substr(start, pos_ - start);
        bool hasParam = false;
        int64_t param = 0;
        bool negative = false;
        if (pos_ < in_.size() && in_[pos_] == '-' && pos_ + 1 < in_.size() && IsDigit(in_[pos_ + 1])) {
            negative = true;
            ++pos_;
        }
        while (pos_ < in_.size() && IsDigit(in_[pos_])) {
            hasParam = true;
            if (param < 10'000'000'000) param = param * 10 + (in_[pos_] - '0');
            ++pos_;
        }
        if (negative) param = -param;
        if (pos_ < in_.size() && in_[pos_] == ' ') ++pos_;  // the delimiting blank belongs to the word

        const bool atGroupStart = groupStart_;
        groupStart_ = false;
        if (word == "bin") {
            // Binary data of the given length follows; never text.
            if (hasParam && param > 0) pos_ = std::min(in_.size(), pos_ + static_cast<size_t>(param));
            return;
        }
        if (Fallback()) return;
        if (atGroupStart && IsDestination(word)) {
            state_.skip = true;
        } else if (word == "par" || word == "line") {
            EndParagraph();
        } else if (word == "tab") {
            Emit('\t');
        } else if (word == "uc") {
            state_.unicodeSkip = hasParam && param >= 0 ? static_cast<int>(std::min<int64_t>(param, 16)) : 1;
        } else if (word == "u" && hasParam) {
            // Signed 16-bit in the file; code points outside one byte have no
            // place in 8-bit text.
            const int64_t code = param < 0 ? param + 65536 : param;
            Emit(code >= 0 && code < 256 ? static_cast<char>(code) : '?');
            pendingFallback_ = state_.unicodeSkip;
        } else if (word == "emdash") {
            Emit('\x97');
        } else if (word == "endash") {
            Emit('\x96');
        } else if (word == "lquote") {
            Emit('\x91');
        } else if (word == "rquote") {
            Emit('\x92');
        } else if (word == "ldblquote") {
            Emit('\x93');
        } else if (word == "rdblquote") {
            Emit('\x94');
        } else if (word == "bullet") {
            Emit('\x95');
        }
    }

    // True when the current item is one of the fallback characters that
    // follow a \uN and must be dropped.
    bool Fallback() {
        if (pendingFallback_ == 0) return false;
        --pendingFallback_;
        return true;
    }

    void Emit(char c) {
        if (Fallback() || state_.skip) return;
        current_ += c;
    }

    void EndParagraph() {
        if (state_.skip) return;
        paragraphs_.push_back(std::move(current_));
        current_.clear();
    }

    std::string_view in_;
    size_t pos_ = 0;
    bool finished_ = false;
    bool groupStart_ = false;
    int pendingFallback_ = 0;
    GroupState state_;
    std::vector<GroupState> stack_;
    std::string current_;
    std::vector<std::string> paragraphs_;
};

}  // namespace

std::vector<std::string> ParseRtfParagraphs(std::string_view rtf) { return RtfReader(rtf).Paragraphs(); }

std::string WriteRtfParagraphs(const std::vector<std::string>& lines) {
    std::string out =
        "{\\rtf1\\ansi\\ansicpg1252\\deff0{\\fonttbl{\\f0\\fnil\\fcharset0 Courier New;}}\r\n"
        "\\viewkind4\\uc1\\pard\\f0\\fs20 ";
    for (const auto& line : lines) {
        for (const char c : line) {
            const auto byte = static_cast<unsigned char>(c);
            if (c == '\\' || c == '{' || c == '}') {
                out += '\\';
                out += c;
            } else if (byte < 0x20 || byte >= 0x7F) {
                out += fmt::format("\\'{:02x}", byte);
            } else {
                out += c;
            }
        }
        // The line break keeps the next line's first byte from being read
        // as part of the control word.
        out += "\\par\r\n";
    }
    out += "}\r\n";
    return out;
}

}  // namespace qm
