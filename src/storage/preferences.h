#pragma once
// The per-user preference store: a few console preferences and the IRC
// link's stored values, kept as "key=value" lines in one small file under
// $XDG_CONFIG_HOME/Quillmoot (default ~/.config/Quillmoot). Each value is
// read at start and written at once whenever it changes.
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace qm {

class PreferenceStore {
public:
    // Reads `file` if it exists; a missing file is an empty store.
    explicit PreferenceStore(std::filesystem::path file);

    // $XDG_CONFIG_HOME/Quillmoot/preferences, falling back to ~/.config.
    static std::filesystem::path DefaultPath();

    // Reads the file again (an operator may have edited it); throws FileError
    // when it exists but cannot be read.
    void Reload();

    std::optional<std::string> Get(std::string_view key) const;
    bool GetBool(std::string_view key, bool fallback) const;
    std::string GetText(std::string_view key, std::string_view fallback) const;

    // Stores the value and rewrites the file atomically (creating its
    // directory); throws FileError when it cannot be written, keeping the
    // value in memory.
    void Set(std::string_view key, std::string_view value);
    void SetBool(std::string_view key, bool value);

    const std::filesystem::path& path() const { return file_; }

private:
    std::filesystem::path file_;
    std::map<std::string, std::string, std::less<>> values_;
};

}  // namespace qm
