#pragma once
// The three roles an operator gives and takes (ServOP, ChanOP, spy), as
// flags of a connected user and as the lines of a stored record.
#include <optional>

namespace qm {

enum class Role { kServOp, kChanOp, kSpy };

struct RoleFlags {
    bool servOp = false;
    bool chanOp = false;
    bool spy = false;
};

// A stored record's three role lines: "Y" is true, "N" false, and any other
// text is no value (an editor's box stays as it was).
struct RecordRoles {
    std::optional<bool> servOp, chanOp, spy;
};

}  // namespace qm
