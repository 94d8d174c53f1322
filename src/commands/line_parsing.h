#pragma once
// The "nick = message" form of /m and /send.
#include <string_view>

namespace qm {

// Index of the first "=" from index `from` up to the next-to-last character
// of the line, or npos. The "=" is never looked for at the very end, so the
// message behind it has at least one character.
constexpr std::size_t FindSplittingEquals(std::string_view line, std::size_t from) {
    for (std::size_t i = from; i + 1 < line.size(); ++i)
        if (line[i] == '=') return i;
    return std::string_view::npos;
}

}  // namespace qm
