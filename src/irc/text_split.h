#pragma once
// Cutting a long chat text into pieces that fit an IRC line.
#include <cstddef>
#include <string_view>
#include <vector>

namespace qm {

// Splits `text` into pieces of at most `maxBytes` bytes each, only between
// characters: a valid UTF-8 sequence stays whole, and a byte that is not part
// of one counts as a character of its own. A character longer than
// `maxBytes` still makes a piece. Joined, the pieces are the text; an empty
// text gives one empty piece.
std::vector<std::string_view> SplitAtCharacters(std::string_view text, std::size_t maxBytes);

}  // namespace qm
