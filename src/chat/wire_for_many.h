#pragma once
// One line for many recipients (a channel's members): put in each wire form
// once (telnet doubles byte 255, other ways send it as it is), and kept once
// for the loop round, so that each recipient's output refers to it instead
// of holding a copy. A channel of thousands then costs a reference per
// member, and the kernel copies the one line into each socket.
#include <array>
#include <optional>
#include <string>
#include <string_view>

#include "chat/client_record.h"

namespace qm {

class WireForMany {
public:
    // `text` must outlive this (both are locals of one send).
    explicit WireForMany(std::string_view text) : text_(text) {}

    // Valid within the handler that made it: the round's shared bytes go
    // once the round's output is written.
    void SendTo(TTcpSrvClient& recipient) {
        const WireCoding coding = recipient.Coding();
        auto& shared = shared_[static_cast<std::size_t>(coding)];
        if (!shared) {
            std::string wire;
            AppendWire(coding, text_, wire);
            shared = recipient.ShareWire(wire);
        }
        recipient.SendShared(*shared);
    }

private:
    std::string_view text_;
    std::array<std::optional<SharedBytes>, kWireCodings> shared_;
};

}  // namespace qm
