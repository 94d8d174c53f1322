#include "storage/server_log.h"

#include "storage/control_chars.h"
#include "storage/text_file.h"

namespace qm {

ServerLog::ServerLog(const Clock& clock) : clock_(clock) { lines_.emplace_back("Loaded Quillmoot."); }

void ServerLog::Add(std::string_view text) {
    std::string line = "[" + FormatHourMinute(clock_.Now()) + "] ";
    line += text;
    // The log reaches the operator's terminal (the daemon's standard output)
    // and carries text that came from users, from files and from IRC.
    RemoveControlChars(line);
    lines_.push_back(line);
    // The local copy stays valid even if a listener adds a line of its own.
    if (onLine) onLine(line);
}

void ServerLog::Save(const std::filesystem::path& dir) const {
    WriteLines(dir / LogFileName(clock_.Now()), lines_);
}

}  // namespace qm
