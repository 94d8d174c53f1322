#include "storage/server_log.h"

#include <utility>

#include "storage/control_chars.h"

namespace qm {

ServerLog::ServerLog(const Clock& clock, std::size_t keptLines) : clock_(clock), keptLines_(keptLines) {
    Keep("Loaded Quillmoot.");
}

void ServerLog::Add(std::string_view text) {
    std::string line = "[" + FormatHourMinute(clock_.Now()) + "] ";
    line += text;
    // The log reaches the operator's terminal (the daemon's standard output)
    // and carries text that came from users, from files and from IRC.
    RemoveControlChars(line);
    Keep(line);
    // The local copy stays valid even if a listener adds a line of its own.
    if (onLine) onLine(line);
    if (unsaved_.size() > kUnsavedLimit && onUnsavedFull) onUnsavedFull();
}

void ServerLog::Keep(std::string line) {
    unsaved_ += line;
    unsaved_ += "\r\n";
    lines_.push_back(std::move(line));
    if (lines_.size() > keptLines_) lines_.pop_front();
}

std::string ServerLog::TakeUnsaved() { return std::exchange(unsaved_, {}); }

void ServerLog::ReturnUnsaved(std::string bytes) {
    unsaved_.insert(0, bytes);
    if (unsaved_.size() <= kUnsavedKept) return;
    // Cut after a line end, so that the file goes on with a whole line.
    const auto cut = unsaved_.find('\n', unsaved_.size() - kUnsavedKept);
    unsaved_.erase(0, cut == std::string::npos ? unsaved_.size() : cut + 1);
}

std::filesystem::path ServerLog::FileNameNow() const { return LogFileName(clock_.Now()); }

}  // namespace qm
