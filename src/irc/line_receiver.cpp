#include "irc/line_receiver.h"

namespace qm {

void LineReceiver::Append(std::string_view bytes) {
    if (discarding_) {
        const std::size_t lf = bytes.find('\n');
        if (lf == std::string_view::npos) return;
        bytes.remove_prefix(lf + 1);
        discarding_ = false;
    }
    buffer_.erase(0, read_);
    read_ = 0;
    buffer_ += bytes;
    const std::size_t lastLf = buffer_.rfind('\n');
    const std::size_t partial = lastLf == std::string::npos ? 0 : lastLf + 1;
    if (buffer_.size() - partial > kMaxLine) {
        buffer_.erase(partial);
        discarding_ = true;
    }
}

std::optional<std::string> LineReceiver::NextLine() {
    for (;;) {
        const std::size_t lf = buffer_.find('\n', read_);
        if (lf == std::string::npos) return std::nullopt;
        std::string_view line(buffer_.data() + read_, lf - read_);
        read_ = lf + 1;
        if (line.ends_with('\r')) line.remove_suffix(1);
        // A complete line that is too long is dropped like an unfinished one.
        if (!line.empty() && line.size() <= kMaxLine) return std::string(line);
    }
}

void LineReceiver::Clear() {
    buffer_.clear();
    read_ = 0;
    discarding_ = false;
}

}  // namespace qm
