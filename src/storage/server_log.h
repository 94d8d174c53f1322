#pragma once
// The operator's running record: lines added in order, the first "Loaded
// Quillmoot.", every other "[hh:nn] text". The lines not yet saved are
// handed out once, to be added at the end of the file named after the day
// of the save, "m-d-yyyy.log", with CR LF after each line. Only the latest
// lines stay in memory, for a window that shows them.
#include <cstddef>
#include <deque>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

#include "storage/clock.h"

namespace qm {

class ServerLog {
public:
    // As many lines as the console's log view keeps.
    static constexpr std::size_t kKeptLines = 5000;
    // Past this many unsaved bytes, onUnsavedFull asks for a save.
    static constexpr std::size_t kUnsavedLimit = 1 << 20;
    static constexpr std::size_t kUnsavedKept = 16 * kUnsavedLimit;

    explicit ServerLog(const Clock& clock, std::size_t keptLines = kKeptLines);

    // Appends "[hh:nn] " + text and tells onLine.
    void Add(std::string_view text);
    // The lines added since the last call, each followed by CR LF; they
    // count as saved from now on.
    std::string TakeUnsaved();
    // Bytes a save could not write: they go before any line added since.
    // While saves keep failing, only the latest kUnsavedKept bytes (whole
    // lines) are held, so that a full disk cannot fill the memory too.
    void ReturnUnsaved(std::string bytes);
    // The file the lines are saved to now: LogFileName of the present day.
    std::filesystem::path FileNameNow() const;

    // The latest lines, at most `keptLines` of them.
    const std::deque<std::string>& Lines() const { return lines_; }

    std::function<void(const std::string&)> onLine;
    // Told once the unsaved lines have grown past kUnsavedLimit.
    std::function<void()> onUnsavedFull;

private:
    void Keep(std::string line);

    const Clock& clock_;
    const std::size_t keptLines_;
    std::deque<std::string> lines_;
    std::string unsaved_;
};

}  // namespace qm
