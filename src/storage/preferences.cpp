#include "storage/preferences.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

#include "storage/text_file.h"

namespace qm {

namespace {

// One value per line, so line ends inside a value (and the backslash that
// marks them) are escaped.
std::string Escape(std::string_view value) {
    std::string out;
    out.reserve(value.size());
    for (const char c : value) {
        switch (c) {
            case '\\': out += "\\\\"; break;
            case '\r': out += "\\r"; break;
            case '\n': out += "\\n"; break;
            default: out += c;
        }
    }
    return out;
}

std::string Unescape(std::string_view value) {
    std::string out;
    out.reserve(value.size());
    for (size_t i = 0; i < value.size(); ++i) {
        if (value[i] != '\\' || i + 1 == value.size()) {
            out += value[i];
            continue;
        }
        const char next = value[++i];
        out += next == 'r' ? '\r' : next == 'n' ? '\n' : next;
    }
    return out;
}

std::filesystem::path HomeDirectory() {
    if (const char* home = std::getenv("HOME"); home && *home) return home;
    if (const passwd* entry = ::getpwuid(::getuid()); entry && entry->pw_dir) return entry->pw_dir;
    return ".";
}

}  // namespace

PreferenceStore::PreferenceStore(std::filesystem::path file) : file_(std::move(file)) { Reload(); }

void PreferenceStore::Reload() {
    // Read completely before anything is replaced: an unreadable file keeps
    // the values in memory.
    decltype(values_) values;
    std::error_code ec;
    if (std::filesystem::exists(file_, ec)) {
        for (const auto& line : ReadLines(file_)) {
            const auto eq = line.find('=');
            if (eq == std::string::npos) continue;
            values[line.substr(0, eq)] = Unescape(std::string_view(line).substr(eq + 1));
        }
    }
    values_ = std::move(values);
}

std::filesystem::path PreferenceStore::DefaultPath() {
    // Relative values of XDG_CONFIG_HOME are to be ignored.
    std::filesystem::path base;
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg == '/')
        base = xdg;
    else
        base = HomeDirectory() / ".config";
    return base / "Quillmoot" / "preferences";
}

std::optional<std::string> PreferenceStore::Get(std::string_view key) const {
    const auto it = values_.find(key);
    if (it == values_.end()) return std::nullopt;
    return it->second;
}

bool PreferenceStore::GetBool(std::string_view key, bool fallback) const {
    const auto value = Get(key);
    if (value == "true" || value == "1") return true;
    if (value == "false" || value == "0") return false;
    return fallback;
}

std::string PreferenceStore::GetText(std::string_view key, std::string_view fallback) const {
    return Get(key).value_or(std::string(fallback));
}

void PreferenceStore::Set(std::string_view key, std::string_view value) {
    values_.insert_or_assign(std::string(key), std::string(value));
    std::vector<std::string> lines;
    lines.reserve(values_.size());
    for (const auto& [k, v] : values_) lines.push_back(k + "=" + Escape(v));
    std::error_code ec;
    if (file_.has_parent_path()) std::filesystem::create_directories(file_.parent_path(), ec);
    if (ec) throw FileError("Cannot create file " + file_.string() + ": " + ec.message());
    WriteLines(file_, lines);
}

void PreferenceStore::SetBool(std::string_view key, bool value) { Set(key, value ? "true" : "false"); }

}  // namespace qm
