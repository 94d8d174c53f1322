#include "irc/ctcp.h"

namespace qm {

CtcpText SplitCtcp(std::string_view text) {
    if (IsCtcp(text)) text.remove_prefix(1);
    if (!text.empty() && text.back() == kCtcpDelimiter) text.remove_suffix(1);
    const std::size_t blank = text.find(' ');
    if (blank == std::string_view::npos) return {std::string(text), {}};
    return {std::string(text.substr(0, blank)), std::string(text.substr(blank + 1))};
}

}  // namespace qm
