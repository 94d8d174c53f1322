#include "irc/text_split.h"

namespace qm {
namespace {

bool IsContinuation(unsigned char c) { return (c & 0xC0) == 0x80; }

// The length of the character at `pos`: its UTF-8 sequence length when the
// bytes form one, else 1.
std::size_t CharacterLength(std::string_view text, std::size_t pos) {
    const auto lead = static_cast<unsigned char>(text[pos]);
    std::size_t length = 1;
    if (lead >= 0xC2 && lead <= 0xDF) length = 2;
    else if (lead >= 0xE0 && lead <= 0xEF) length = 3;
    else if (lead >= 0xF0 && lead <= 0xF4) length = 4;
    if (pos + length > text.size()) return 1;
    for (std::size_t i = 1; i < length; ++i)
        if (!IsContinuation(static_cast<unsigned char>(text[pos + i]))) return 1;
    return length;
}

}  // namespace

std::vector<std::string_view> SplitAtCharacters(std::string_view text, std::size_t maxBytes) {
    std::vector<std::string_view> pieces;
    std::size_t start = 0, pos = 0;
    while (pos < text.size()) {
        const std::size_t length = CharacterLength(text, pos);
        if (pos > start && pos + length - start > maxBytes) {
            pieces.push_back(text.substr(start, pos - start));
            start = pos;
        }
        pos += length;
    }
    pieces.push_back(text.substr(start));
    return pieces;
}

}  // namespace qm
