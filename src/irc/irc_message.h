#pragma once
// One line from an IRC server, split into its sender, its command and its
// parameters.
#include <array>
#include <cstddef>
#include <string>
#include <string_view>

namespace qm {

struct IrcMessage {
    // Slot 0 is the prefix, slot 1 the command, slots 2 to 14 the parameters.
    static constexpr std::size_t kSlots = 15;
    // A middle parameter that ends the line, and the address of a sender, are
    // cut to this many bytes; a server never sends more in one line.
    static constexpr std::size_t kMaxField = 512;

    std::string senderNick;     // empty when the prefix has no "!" (a server)
    std::string senderAddress;  // after the "!", or the whole prefix without one
    std::string command;
    std::string rest;  // everything after the command and its blank
    std::array<std::string, kSlots> tokens;

    // Parameter slot `n` (2 is the first parameter); empty beyond the table.
    const std::string& Param(std::size_t n) const;
};

// Splits one received line (without its line end). A line with more than 13
// parameters keeps the first 12 as they are, and the 13th slot takes the rest
// of the line unsplit (without a leading ":"), so nothing the server sent is
// lost.
IrcMessage ParseIrcLine(std::string_view line);

// Whether a command is a numeric reply (decimal digits only).
bool IsNumericCommand(std::string_view command);

}  // namespace qm
