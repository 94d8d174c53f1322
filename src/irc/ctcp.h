#pragma once
// CTCP: a query or reply travels inside a PRIVMSG or NOTICE text framed by
// byte 1: "\x01" command [" " arguments] "\x01".
#include <string>
#include <string_view>

namespace qm {

inline constexpr char kCtcpDelimiter = '\x01';

struct CtcpText {
    std::string command;
    std::string args;
};

inline bool IsCtcp(std::string_view text) { return !text.empty() && text.front() == kCtcpDelimiter; }

// Splits a text that begins with byte 1. The command runs to the first blank,
// the arguments from after it; a closing byte 1 is dropped, and a text whose
// closing byte was lost on the way is split all the same.
CtcpText SplitCtcp(std::string_view text);

}  // namespace qm
