#pragma once
// Cuts the byte stream from an IRC server into lines. The server ends lines
// with CR LF, some with a bare LF; empty lines mean nothing. A line that grows
// beyond kMaxLine without ending is thrown away up to its line feed, so a
// hostile server cannot make the buffer grow without bound.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace qm {

class LineReceiver {
public:
    static constexpr std::size_t kMaxLine = 8 * 1024;

    void Append(std::string_view bytes);
    // The next complete non-empty line without its line end, in order.
    std::optional<std::string> NextLine();
    void Clear();

private:
    std::string buffer_;
    std::size_t read_ = 0;  // where the unread part of buffer_ begins
    bool discarding_ = false;  // inside an overlong line, until its line feed
};

}  // namespace qm
