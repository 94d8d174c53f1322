#include "irc/irc_modes.h"

namespace qm {

bool ApplyUserModeLetters(TUserModes& modes, std::string_view letters) {
    const TUserModes before = modes;
    bool plus = true;
    for (char c : letters) {
        if (c == '+' || c == '-') {
            plus = c == '+';
            continue;
        }
        const std::size_t bit = kUserModeLetters.find(c);
        if (bit != std::string_view::npos) modes.Set(static_cast<TUserMode>(bit), plus);
    }
    return modes != before;
}

}  // namespace qm
