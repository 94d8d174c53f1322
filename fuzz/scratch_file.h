#pragma once
// The file readers take a path, not bytes: each harness writes its input to
// a file in a directory of its own (made once per process, under the
// system's temporary directory) and hands that path on.
#include <filesystem>
#include <string_view>

namespace qm::fuzz {

// The process's scratch directory; made at the first call.
const std::filesystem::path& ScratchDir();

// Writes `bytes` to ScratchDir() / name, replacing what was there, and
// returns the path.
std::filesystem::path WriteScratchFile(const char* name, std::string_view bytes);

}  // namespace qm::fuzz
