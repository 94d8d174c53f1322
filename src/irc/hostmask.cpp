#include "irc/hostmask.h"

#include <cstddef>

namespace qm {

// The classic greedy matcher: remember the last "*" and, on a mismatch, let it
// swallow one more character of the text. Only the last star ever needs to be
// retried, because whatever an earlier star could absorb the later one can too.
bool MatchHostmask(std::string_view text, std::string_view mask) {
    constexpr std::size_t kNone = std::string_view::npos;
    std::size_t t = 0, m = 0;
    std::size_t starMask = kNone, starText = 0;
    while (t < text.size()) {
        if (m < mask.size() && mask[m] == '*') {
            starMask = m++;
            starText = t;
        } else if (m < mask.size() && (mask[m] == '?' || mask[m] == text[t])) {
            ++m;
            ++t;
        } else if (starMask != kNone) {
            m = starMask + 1;
            t = ++starText;
        } else {
            return false;
        }
    }
    while (m < mask.size() && mask[m] == '*') ++m;
    return m == mask.size();
}

}  // namespace qm
