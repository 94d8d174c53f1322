#pragma once
// Text from IRC on its way to terminals: IRC clients colour and format their
// text with control bytes (bold, colour with its digits, italics, underline,
// reset) and a hostile one can send terminal escape sequences. Chat users'
// terminals get none of them.
#include <string>
#include <string_view>

namespace qm {

// `text` without formatting codes (a colour code takes its "fg,bg" digits
// with it, a hex colour code its six hex digits) and without any other
// control character (RemoveControlChars).
std::string StripIrcControls(std::string_view text);

}  // namespace qm
