#pragma once
// Plain 8-bit text files as the server keeps them: read with CR, LF or CR LF
// as line end, written with CR LF after every line, replaced atomically.
#include <filesystem>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace qm {

// A file that cannot be read or written. what() is the text shown to the
// operator: "Cannot open file <name>" or "Cannot create file <name>: <reason>".
class FileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Splits text at CR, LF or CR LF; a line end at the very end of the text does
// not make an extra empty line.
std::vector<std::string> SplitLines(std::string_view text);

// Every line followed by CR LF, the last one included.
std::string JoinLines(const std::vector<std::string>& lines);

// Whole file as bytes; throws FileError("Cannot open file <file>").
std::string ReadFileBytes(const std::filesystem::path& file);

// SplitLines of the whole file; throws FileError("Cannot open file <file>").
std::vector<std::string> ReadLines(const std::filesystem::path& file);

// A text file held as one text: its lines joined, each followed by CR LF.
std::string ReadText(const std::filesystem::path& file);

// Writes every byte to `fd`, going on after short writes and interrupted
// calls; false when a write fails (errno tells why).
bool WriteAll(int fd, std::string_view bytes);

// Writes the bytes to a temporary file in the same directory, fsyncs it and
// renames it over `file`, so that a crash leaves the old or the new file and
// never a mix. The file is readable and writable by its owner only (an
// existing file keeps a mode tighter than that). Throws FileError("Cannot
// create file <file>: <reason>") and leaves the old file untouched when any
// step fails.
void WriteFileAtomic(const std::filesystem::path& file, std::string_view bytes);

// Adds the bytes at the end of `file` (creating it) and fsyncs it. Throws
// FileError("Cannot create file <file>: <reason>"); a failed write is cut
// off again, so that the file ends as it did before.
void AppendToFile(const std::filesystem::path& file, std::string_view bytes);

// Removes the temporary files of WriteFileAtomic that a crash left in `dir`
// (never a file of another name) and returns their names. Call it before
// anything in the directory is written. A file that cannot be removed is
// left, and not named.
std::vector<std::string> RemoveLeftoverTempFiles(const std::filesystem::path& dir);

// WriteFileAtomic(file, JoinLines(lines)).
void WriteLines(const std::filesystem::path& file, const std::vector<std::string>& lines);

}  // namespace qm
