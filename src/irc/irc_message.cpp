#include "irc/irc_message.h"

#include <algorithm>

namespace qm {

const std::string& IrcMessage::Param(std::size_t n) const {
    static const std::string kEmpty;
    return n < kSlots ? tokens[n] : kEmpty;
}

namespace {

// Takes the text up to the next blank and moves `line` past that blank.
std::string_view TakeWord(std::string_view& line) {
    const std::size_t blank = line.find(' ');
    const std::string_view word = line.substr(0, blank);
    line = blank == std::string_view::npos ? std::string_view{} : line.substr(blank + 1);
    return word;
}

std::string_view WithoutColon(std::string_view text) {
    return !text.empty() && text.front() == ':' ? text.substr(1) : text;
}

}  // namespace

IrcMessage ParseIrcLine(std::string_view line) {
    IrcMessage msg;
    if (!line.empty() && line.front() == ':') {
        line.remove_prefix(1);
        const std::string_view prefix = TakeWord(line);
        msg.tokens[0] = prefix;
        const std::size_t bang = prefix.find('!');
        if (bang == std::string_view::npos) {
            msg.senderAddress = prefix.substr(0, IrcMessage::kMaxField);
        } else {
            msg.senderNick = prefix.substr(0, bang);
            msg.senderAddress = prefix.substr(bang + 1, IrcMessage::kMaxField);
        }
    }
    msg.command = TakeWord(line);
    msg.tokens[1] = msg.command;
    msg.rest = line;

    for (std::size_t slot = 2; slot < IrcMessage::kSlots && !line.empty(); ++slot) {
        if (line.front() == ':' || slot == IrcMessage::kSlots - 1) {
            msg.tokens[slot] = WithoutColon(line);
            break;
        }
        const bool last = line.find(' ') == std::string_view::npos;
        const std::string_view param = TakeWord(line);
        msg.tokens[slot] = last ? param.substr(0, IrcMessage::kMaxField) : param;
    }
    return msg;
}

bool IsNumericCommand(std::string_view command) {
    return !command.empty() && std::all_of(command.begin(), command.end(), [](char c) { return c >= '0' && c <= '9'; });
}

}  // namespace qm
