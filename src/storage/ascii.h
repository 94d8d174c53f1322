#pragma once
// Nicknames and channel names are compared ignoring the case of ASCII
// letters only; every other byte compares exactly.
#include <string>
#include <string_view>

namespace qm {

constexpr char ToLowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; }

inline bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (ToLowerAscii(a[i]) != ToLowerAscii(b[i])) return false;
    return true;
}

// `text` with its ASCII letters in lower case: the key under which names
// that compare equal ignoring case are kept.
inline std::string FoldAscii(std::string_view text) {
    std::string folded(text);
    for (char& c : folded) c = ToLowerAscii(c);
    return folded;
}

inline bool StartsWithIgnoreCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && EqualsIgnoreCase(text.substr(0, prefix.size()), prefix);
}

}  // namespace qm
