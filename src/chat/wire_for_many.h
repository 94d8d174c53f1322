#pragma once
// One line for many recipients (a channel's members): escaped once, and kept
// once for the loop round, so that each recipient's output refers to it
// instead of holding a copy. A channel of thousands then costs a reference
// per member, and the kernel copies the one line into each socket.
#include <optional>
#include <string>
#include <string_view>

#include "chat/client_record.h"
#include "net/output_scheduler.h"

namespace qm {

class WireForMany {
public:
    explicit WireForMany(std::string_view text) { TerminalInput::AppendEscaped(text, wire_); }

    // Valid within the handler that made it: the round's shared bytes go
    // once the round's output is written.
    void SendTo(TTcpSrvClient& recipient) {
        if (!shared_) shared_ = recipient.Share(wire_);
        recipient.SendShared(*shared_);
    }

private:
    std::string wire_;
    std::optional<SharedBytes> shared_;
};

}  // namespace qm
