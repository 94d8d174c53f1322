#include "irc/irc_numerics.h"

#include <array>
#include <string_view>

namespace qm {
namespace {

struct Row {
    int first, last;
    std::string_view category;  // empty: the numeric itself
    // "%s" takes the parameters in order, from `slot` on (slot 2 is the
    // client's own nick, which no text repeats). Without a format the text is
    // the parameters from slot 3 on, separated by blanks.
    std::string_view format;
    std::size_t slot = 3;
};

constexpr std::array kRows{
    Row{1, 4, "WELCOME", {}},
    Row{200, 206, "TRACE", {}},
    Row{208, 208, "TRACE", {}},
    Row{211, 216, "STATS", {}},
    Row{218, 218, "STATS", {}},
    Row{219, 219, "STATS", "%s :%s"},
    Row{221, 221, "UMODE", {}},
    Row{241, 244, "STATS", {}},
    Row{251, 255, "LUSER", {}},
    Row{256, 259, "ADMIN", {}},
    Row{261, 261, "TRACE", {}},
    Row{302, 302, "USERHOST", {}},
    Row{303, 303, "ISON", {}},
    Row{311, 311, "WHOIS", "%s is %s@%s %s %s"},
    Row{312, 312, "WHOIS", "%s is using %s :%s"},
    Row{313, 313, "WHOIS", "%s %s"},
    Row{314, 314, "WHOWAS", "%s was %s@%s %s %s"},
    Row{315, 315, "WHO", "%s :%s"},
    Row{317, 317, "WHOIS", "%s has been idle %s seconds, signed on at %s"},
    Row{318, 318, "WHOIS", "%s :%s"},
    Row{319, 319, "WHOIS", "%s is on %s"},
    Row{321, 321, "LIST", "Start of LIST"},
    Row{322, 322, "LIST", "%s %s %s"},
    Row{323, 323, "LIST", {}},
    Row{329, 329, {}, {}},
    Row{342, 342, "SUMMON", "%s has been summoned"},
    Row{351, 351, "VERSION", "%s %s :%s"},
    Row{352, 352, "WHO", {}},
    // "353 <me> = <channel> :<names>": the channel type is left out.
    Row{353, 353, "NAMES", "%s :%s", 4},
    Row{364, 364, "LINKS", "%s %s :%s"},
    Row{365, 365, "LINKS", "%s :%s"},
    Row{366, 366, "NAMES", "%s :%s"},
    Row{367, 367, "BANS", "%s %s"},
    Row{368, 368, "BANS", "%s :%s"},
    Row{369, 369, "WHOWAS", "%s :%s"},
    Row{371, 371, "INFO", {}},
    Row{372, 372, "MOTD", {}},
    Row{374, 374, "INFO", {}},
    Row{375, 376, "MOTD", {}},
    Row{381, 381, "OPER", {}},
    Row{382, 382, "REHASH", "%s :%s"},
    Row{391, 391, "TIME", "%s :%s"},
    Row{392, 395, "USERS", {}},
};

std::string Fill(std::string_view format, const IrcMessage& msg, std::size_t slot) {
    std::string text;
    for (std::size_t pos = 0;;) {
        const std::size_t mark = format.find("%s", pos);
        text += format.substr(pos, mark - pos);
        if (mark == std::string_view::npos) return text;
        text += msg.Param(slot++);
        pos = mark + 2;
    }
}

std::string ParamsFrom(const IrcMessage& msg, std::size_t slot) {
    std::string text;
    for (; slot < IrcMessage::kSlots && !msg.tokens[slot].empty(); ++slot) {
        if (!text.empty()) text += ' ';
        text += msg.tokens[slot];
    }
    return text;
}

}  // namespace

std::optional<SystemReply> DescribeSystemReply(int numeric, const IrcMessage& msg) {
    for (const Row& row : kRows) {
        if (numeric < row.first || numeric > row.last) continue;
        std::string category = row.category.empty() ? msg.command : std::string(row.category);
        std::string text = row.format.empty() ? ParamsFrom(msg, row.slot) : Fill(row.format, msg, row.slot);
        return SystemReply{std::move(category), std::move(text)};
    }
    return std::nullopt;
}

}  // namespace qm
