#include "scratch_file.h"

#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <string>

namespace qm::fuzz {

namespace {

// Removed again when the run ends normally; a crash leaves it for a look.
struct OwnedDir {
    OwnedDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "qm-fuzz-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("cannot make " + pattern);
        path = pattern;
    }
    ~OwnedDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
    std::filesystem::path path;
};

}  // namespace

const std::filesystem::path& ScratchDir() {
    static const OwnedDir dir;
    return dir.path;
}

std::filesystem::path WriteScratchFile(const char* name, std::string_view bytes) {
    const auto path = ScratchDir() / name;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path.string());
    return path;
}

}  // namespace qm::fuzz
