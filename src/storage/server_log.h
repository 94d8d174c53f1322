#pragma once
// The operator's running record: an append-only list of lines, the first
// "Loaded Quillmoot.", every other "[hh:nn] text". Saved whole to the file
// named after today's date, "m-d-yyyy.log", lines separated by CR LF.
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "storage/clock.h"

namespace qm {

class ServerLog {
public:
    explicit ServerLog(const Clock& clock);

    // Appends "[hh:nn] " + text and tells onLine.
    void Add(std::string_view text);
    // Writes the whole log to dir / LogFileName(now); throws FileError.
    void Save(const std::filesystem::path& dir) const;

    const std::vector<std::string>& Lines() const { return lines_; }

    std::function<void(const std::string&)> onLine;

private:
    const Clock& clock_;
    std::vector<std::string> lines_;
};

}  // namespace qm
