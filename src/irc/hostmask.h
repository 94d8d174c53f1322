#pragma once
// Matching a nick!user@host text against a ban mask.
#include <string_view>

namespace qm {

// "*" stands for any run of characters (also none), "?" for exactly one;
// every other character must be equal, letter case included. Runs in time
// proportional to the product of the two lengths at worst, so a hostile mask
// such as "*a*a*a*a*b" cannot stall the loop.
bool MatchHostmask(std::string_view text, std::string_view mask);

}  // namespace qm
