#include "storage/text_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>

#include <fmt/core.h>

namespace qm {

std::vector<std::string> SplitLines(std::string_view text) {
    std::vector<std::string> lines;
    size_t start = 0;
    size_t i = 0;
    while (i < text.size()) {
        const char c = text[i];
        if (c == '\r' || c == '\n') {
            lines.emplace_back(text.substr(start, i - start));
            // CR LF is one line end, not two.
            i += (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ? 2 : 1;
            start = i;
        } else {
            ++i;
        }
    }
    if (start < text.size()) lines.emplace_back(text.substr(start));
    return lines;
}

std::string JoinLines(const std::vector<std::string>& lines) {
    size_t size = 0;
    for (const auto& line : lines) size += line.size() + 2;
    std::string text;
    text.reserve(size);
    for (const auto& line : lines) {
        text += line;
        text += "\r\n";
    }
    return text;
}

std::string ReadFileBytes(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::error_code ec;
    // A directory opens fine as a stream on Linux but is not a text file.
    if (!in || std::filesystem::is_directory(file, ec))
        throw FileError("Cannot open file " + file.string());
    std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (in.bad()) throw FileError("Cannot open file " + file.string());
    return bytes;
}

std::vector<std::string> ReadLines(const std::filesystem::path& file) {
    return SplitLines(ReadFileBytes(file));
}

std::string ReadText(const std::filesystem::path& file) { return JoinLines(ReadLines(file)); }

namespace {

constexpr mode_t kOwnerOnly = S_IRUSR | S_IWUSR;

// A temporary file is named ".<target>.tmp." followed by this many hex digits.
constexpr std::string_view kTempMarker = ".tmp.";
constexpr std::size_t kTempTagDigits = 12;

std::filesystem::path TempFileName(const std::filesystem::path& dir, const std::filesystem::path& target,
                                   std::uint64_t tag) {
    return dir / fmt::format(".{}{}{:0{}x}", target.filename().string(), kTempMarker,
                             tag & ((std::uint64_t{1} << (4 * kTempTagDigits)) - 1), kTempTagDigits);
}

bool IsTempFileName(std::string_view name) {
    if (name.size() < 2 + kTempMarker.size() + kTempTagDigits || name.front() != '.') return false;
    const auto tag = name.substr(name.size() - kTempTagDigits);
    const auto marker = name.substr(name.size() - kTempTagDigits - kTempMarker.size(), kTempMarker.size());
    const auto isHexDigit = [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); };
    return marker == kTempMarker && std::all_of(tag.begin(), tag.end(), isHexDigit);
}

// Owns the descriptor and the name of a temporary file until it has been
// renamed into place; anything short of that removes it again.
class TempFile {
public:
    explicit TempFile(const std::filesystem::path& target) {
        const auto dir = target.has_parent_path() ? target.parent_path() : std::filesystem::path(".");
        std::random_device seed;
        std::mt19937_64 random(seed());
        // O_EXCL makes the name ours. The files hold password hashes and
        // private mail, so only their owner may read them (the umask can
        // only take more away).
        for (int attempt = 0; attempt < 100 && fd_ < 0; ++attempt) {
            auto candidate = TempFileName(dir, target, random());
            fd_ = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, kOwnerOnly);
            if (fd_ >= 0)
                path_ = std::move(candidate);
            else if (errno != EEXIST)
                break;
        }
    }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;
    ~TempFile() {
        if (fd_ >= 0) ::close(fd_);
        if (!path_.empty()) ::unlink(path_.c_str());
    }

    bool ok() const { return fd_ >= 0; }
    int fd() const { return fd_; }
    const std::filesystem::path& path() const { return path_; }

    bool Close() {
        const int fd = fd_;
        fd_ = -1;
        return ::close(fd) == 0;
    }
    void Release() { path_.clear(); }

private:
    int fd_ = -1;
    std::filesystem::path path_;
};

// Makes the rename itself durable. The new file is already in place when
// this runs, so a failure here is not reported as a failed write.
void SyncDirectory(const std::filesystem::path& target) {
    const auto dir = target.has_parent_path() ? target.parent_path() : std::filesystem::path(".");
    const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

}  // namespace

namespace {

// "Cannot create file <file>: <reason>", the reason taken from errno.
FileError CreateError(const std::filesystem::path& file) {
    return FileError("Cannot create file " + file.string() + ": " + std::strerror(errno));
}

}  // namespace

bool WriteAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        bytes.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

void WriteFileAtomic(const std::filesystem::path& file, std::string_view bytes) {
    TempFile temp(file);
    if (!temp.ok()) throw CreateError(file);
    // An existing file keeps whatever an operator took away from its owner
    // (read only, say), but never lets anybody else read it again.
    struct stat old {};
    if (::stat(file.c_str(), &old) == 0 && S_ISREG(old.st_mode)) ::fchmod(temp.fd(), old.st_mode & kOwnerOnly);
    if (!WriteAll(temp.fd(), bytes) || ::fsync(temp.fd()) != 0 || !temp.Close()) throw CreateError(file);
    if (::rename(temp.path().c_str(), file.c_str()) != 0) throw CreateError(file);
    temp.Release();
    SyncDirectory(file);
}

void AppendToFile(const std::filesystem::path& file, std::string_view bytes) {
    const bool existed = std::filesystem::exists(file);
    const int fd = ::open(file.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, kOwnerOnly);
    if (fd < 0) throw CreateError(file);
    struct stat before {};
    const bool sized = ::fstat(fd, &before) == 0;
    if (!WriteAll(fd, bytes) || ::fsync(fd) != 0) {
        const FileError error = CreateError(file);
        // A part of the bytes would be written again by the next try.
        if (sized) [[maybe_unused]] const int cut = ::ftruncate(fd, before.st_size);
        ::close(fd);
        throw error;
    }
    if (::close(fd) != 0) throw CreateError(file);
    if (!existed) SyncDirectory(file);
}

std::vector<std::string> RemoveLeftoverTempFiles(const std::filesystem::path& dir) {
    std::vector<std::string> removed;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(dir, ec)) {
        const auto name = entry.path().filename().string();
        std::error_code entryError;
        if (!IsTempFileName(name) || !entry.is_regular_file(entryError)) continue;
        if (std::filesystem::remove(entry.path(), entryError)) removed.push_back(name);
    }
    return removed;
}

void WriteLines(const std::filesystem::path& file, const std::vector<std::string>& lines) {
    WriteFileAtomic(file, JoinLines(lines));
}

}  // namespace qm
