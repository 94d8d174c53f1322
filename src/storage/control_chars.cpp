#include "storage/control_chars.h"

namespace qm {

namespace {

constexpr unsigned char kC1Lead = 0xC2;

bool IsC1Tail(unsigned char b) { return b >= 0x80 && b <= 0x9F; }

}  // namespace

void RemoveControlChars(std::string& text) {
    // In place: `kept` bytes at the front are clean. A C1 tail that meets a
    // kept C2 takes that C2 away with it, whatever stood between them.
    std::size_t kept = 0;
    for (const char c : text) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 32 || b == 127) continue;
        if (IsC1Tail(b) && kept > 0 && static_cast<unsigned char>(text[kept - 1]) == kC1Lead) {
            --kept;
            continue;
        }
        text[kept++] = c;
    }
    text.resize(kept);
}

}  // namespace qm
