#pragma once
// The informational numeric replies: the category the client reports each
// under, and the text it makes of the reply's parameters.
#include <optional>
#include <string>

#include "irc/irc_message.h"

namespace qm {

struct SystemReply {
    std::string category;
    std::string text;
};

// The category and text of an informational numeric; nullopt for numerics
// that are not informational (errors, unknown numbers).
std::optional<SystemReply> DescribeSystemReply(int numeric, const IrcMessage& msg);

}  // namespace qm
