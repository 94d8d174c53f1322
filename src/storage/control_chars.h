#pragma once
// Control characters have no business in text that other people's terminals
// show: they move cursors, clear screens, ring bells and smuggle line ends
// into what is relayed or logged. Text is 8-bit bytes, so there are two
// kinds: the single bytes 0-31 and 127, and the C1 controls, which UTF-8
// spells as the pairs C2 80 to C2 9F (terminals act on them, none prints
// them). Every other byte 128-255 is kept: those are the letters that users
// of 8-bit code pages (Latin-1, CP437) type.
#include <string>

namespace qm {

// Removes every control character from `text`, so that none is left, not
// even one that the removal of others would bring together (C2 01 85).
void RemoveControlChars(std::string& text);

}  // namespace qm
