#include "irc/irc_text.h"

#include <cctype>

#include "storage/control_chars.h"

namespace qm {

namespace {

constexpr char kColour = '\x03';
constexpr char kHexColour = '\x04';

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsHexDigit(char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; }

// Skips at most `most` characters that satisfy `accept`, from `i`.
template <typename Accept>
std::size_t SkipUpTo(std::string_view text, std::size_t i, std::size_t most, Accept accept) {
    const std::size_t end = i + most;
    while (i < text.size() && i < end && accept(text[i])) ++i;
    return i;
}

// After a colour code: "fg" or "fg,bg", one or two characters each; a comma
// not followed by a colour is text.
std::size_t SkipColourArguments(std::string_view text, std::size_t i, bool (*accept)(char), std::size_t width) {
    const std::size_t afterForeground = SkipUpTo(text, i, width, accept);
    if (afterForeground == i) return i;
    if (afterForeground + 1 < text.size() && text[afterForeground] == ',' && accept(text[afterForeground + 1]))
        return SkipUpTo(text, afterForeground + 1, width, accept);
    return afterForeground;
}

}  // namespace

std::string StripIrcControls(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const char c = text[i++];
        if (c == kColour) {
            i = SkipColourArguments(text, i, IsDigit, 2);
        } else if (c == kHexColour) {
            i = SkipColourArguments(text, i, IsHexDigit, 6);
        } else {
            out.push_back(c);
        }
    }
    RemoveControlChars(out);
    return out;
}

}  // namespace qm
