#pragma once
// The user modes and channel modes the client keeps track of, as small sets
// with one bit per mode.
#include <cstdint>
#include <initializer_list>
#include <string_view>

namespace qm {

// Mode letters "i", "o", "s", "w", in this order.
enum TUserMode : std::uint8_t { umInvisible, umOperator, umServerNotices, umWallops };
inline constexpr std::string_view kUserModeLetters = "iosw";

// Mode letters "p", "s", "i", "t", "n", "m", "l", "k", in this order.
enum TChannelMode : std::uint8_t {
    cmPrivate,
    cmSecret,
    cmInviteOnly,
    cmOpsSetTopic,
    cmNoExternalMessages,
    cmModerated,
    cmUserLimit,
    cmKey,
};
inline constexpr std::string_view kChannelModeLetters = "psitnmlk";

template <typename Mode>
class ModeSet {
public:
    constexpr ModeSet() = default;
    constexpr ModeSet(std::initializer_list<Mode> modes) {
        for (Mode m : modes) Include(m);
    }
    constexpr bool Has(Mode m) const { return (bits_ >> m) & 1u; }
    constexpr void Include(Mode m) { bits_ |= 1u << m; }
    constexpr void Exclude(Mode m) { bits_ &= ~(1u << m); }
    constexpr void Set(Mode m, bool on) { on ? Include(m) : Exclude(m); }
    constexpr bool Empty() const { return bits_ == 0; }
    friend constexpr bool operator==(ModeSet, ModeSet) = default;

private:
    std::uint32_t bits_ = 0;
};

using TUserModes = ModeSet<TUserMode>;
using TChannelModes = ModeSet<TChannelMode>;

// Applies the letters of a user MODE line ("+i-w"; the sign starts as "+",
// unknown letters are ignored) to `modes`; tells whether the set changed.
bool ApplyUserModeLetters(TUserModes& modes, std::string_view letters);

}  // namespace qm
