// The IRC line tokenizer against any line a server (or something posing as
// one) may send.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "irc/irc_message.h"

namespace {

void Require(bool holds) {
    if (!holds) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view line(reinterpret_cast<const char*>(data), size);
    const qm::IrcMessage msg = qm::ParseIrcLine(line);
    // Everything the message holds was taken from the line.
    Require(msg.senderAddress.size() <= qm::IrcMessage::kMaxField);
    Require(msg.command == msg.Param(1));
    Require(line.find(msg.command) != std::string_view::npos);
    Require(line.ends_with(msg.rest));
    for (std::size_t slot = 0; slot < qm::IrcMessage::kSlots; ++slot)
        Require(line.find(msg.Param(slot)) != std::string_view::npos);
    Require(msg.Param(qm::IrcMessage::kSlots).empty());
    (void)qm::IsNumericCommand(msg.command);
    return 0;
}
