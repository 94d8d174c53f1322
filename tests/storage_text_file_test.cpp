#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "scratch_dir.h"
#include "storage/text_file.h"

namespace qm {
namespace {

namespace fs = std::filesystem;

class StorageTextFile : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = test::MakeScratchDir("text");
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::set<std::string> Entries() const {
        std::set<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir_)) names.insert(entry.path().filename().string());
        return names;
    }

    fs::path dir_;
};

struct SplitCase {
    std::string text;
    std::vector<std::string> lines;
};

TEST_F(StorageTextFile, SplitLinesAcceptsEveryLineEnd) {
    const std::vector<SplitCase> cases = {
        {"", {}},
        {"a", {"a"}},
        {"a\r\n", {"a"}},
        {"a\n", {"a"}},
        {"a\r", {"a"}},
        {"a\r\nb", {"a", "b"}},
        {"a\rb\nc\r\nd", {"a", "b", "c", "d"}},
        {"a\n\nb", {"a", "", "b"}},
        {"a\r\rb", {"a", "", "b"}},
        {"\r\n", {""}},
        {"\n\r", {"", ""}},
        {"a\r\n\r\n", {"a", ""}},
        {std::string("x\0y\xff", 4), {std::string("x\0y\xff", 4)}},
    };
    for (const auto& c : cases) EXPECT_EQ(SplitLines(c.text), c.lines) << "text: " << ::testing::PrintToString(c.text);
}

TEST_F(StorageTextFile, JoinLinesEndsEveryLineWithCrLf) {
    EXPECT_EQ(JoinLines({}), "");
    EXPECT_EQ(JoinLines({""}), "\r\n");
    EXPECT_EQ(JoinLines({"a", "", "b"}), "a\r\n\r\nb\r\n");
}

TEST_F(StorageTextFile, WrittenLinesReadBackTheSame) {
    const std::vector<std::string> lines = {"first", "", "  blanks  ", "\xe9t\xe9", "last"};
    const auto file = dir_ / "lines.txt";
    WriteLines(file, lines);
    EXPECT_EQ(ReadFileBytes(file), JoinLines(lines));
    EXPECT_EQ(ReadLines(file), lines);
}

TEST_F(StorageTextFile, ReadTextNormalisesLineEnds) {
    const auto file = dir_ / "text.txt";
    WriteFileAtomic(file, "one\ntwo\rthree");
    EXPECT_EQ(ReadText(file), "one\r\ntwo\r\nthree\r\n");
    WriteFileAtomic(file, "");
    EXPECT_EQ(ReadText(file), "");
}

TEST_F(StorageTextFile, MissingFileCannotBeOpened) {
    const auto file = dir_ / "missing.txt";
    for (const auto& read : {+[](const fs::path& f) { ReadFileBytes(f); }, +[](const fs::path& f) { ReadLines(f); },
                             +[](const fs::path& f) { ReadText(f); }}) {
        try {
            read(file);
            ADD_FAILURE() << "no error for a missing file";
        } catch (const FileError& e) {
            EXPECT_EQ(std::string(e.what()), "Cannot open file " + file.string());
        }
    }
    EXPECT_THROW(ReadFileBytes(dir_), FileError);
}

struct ModeCase {
    std::optional<fs::perms> before;  // none: the file is new
    fs::perms after;
};

// The files hold password hashes and private mail: only their owner may read
// them, whatever the umask. An existing file keeps a tighter mode but loses
// what others could do with it.
TEST_F(StorageTextFile, WrittenFilesAreForTheirOwnerOnly) {
    using P = fs::perms;
    const P ownerOnly = P::owner_read | P::owner_write;
    const std::vector<ModeCase> cases = {
        {std::nullopt, ownerOnly},
        {P::owner_read | P::owner_write | P::group_read | P::others_read, ownerOnly},
        {P::owner_read | P::owner_write | P::group_read, ownerOnly},
        {P::all, ownerOnly},
        {ownerOnly, ownerOnly},
        {P::owner_read, P::owner_read},
    };
    const mode_t savedMask = ::umask(0);
    for (const auto& c : cases) {
        const auto file = dir_ / "data.txt";
        fs::remove(file);
        if (c.before) {
            WriteFileAtomic(file, "old");
            fs::permissions(file, *c.before);
        }
        WriteFileAtomic(file, "new content");
        EXPECT_EQ(ReadFileBytes(file), "new content");
        EXPECT_EQ(fs::status(file).permissions(), c.after) << static_cast<int>(c.before.value_or(P::none));
        EXPECT_EQ(Entries(), std::set<std::string>{"data.txt"});
    }
    ::umask(savedMask);
}

TEST_F(StorageTextFile, WriteIntoMissingDirectoryFails) {
    const auto file = dir_ / "no" / "such" / "file.txt";
    try {
        WriteFileAtomic(file, "x");
        FAIL() << "no error";
    } catch (const FileError& e) {
        EXPECT_EQ(std::string(e.what()), "Cannot create file " + file.string() + ": No such file or directory");
    }
}

// The temporary file is complete when the rename fails, so this is the last
// step that can go wrong: nothing of the write may remain.
TEST_F(StorageTextFile, FailedRenameLeavesTargetAndNoTemporaryFile) {
    const auto target = dir_ / "taken";
    fs::create_directory(target);
    WriteFileAtomic(target / "inside", "kept");
    try {
        WriteFileAtomic(target, "new bytes");
        FAIL() << "no error";
    } catch (const FileError& e) {
        EXPECT_EQ(std::string(e.what()), "Cannot create file " + target.string() + ": Is a directory");
    }
    EXPECT_EQ(ReadFileBytes(target / "inside"), "kept");
    EXPECT_EQ(Entries(), std::set<std::string>{"taken"});
}

// A full disk, made real with a file size limit of 4 KiB in a child
// process: `write` runs there, and its result is the child's exit status
// (-1 when the child did not exit normally).
int ExitStatusOnAFullDisk(const std::function<int()>& write) {
    const pid_t child = ::fork();
    if (child < 0) return -1;
    if (child == 0) {
        ::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{4096, 4096};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        ::_exit(write());
    }
    int status = 0;
    if (::waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

TEST_F(StorageTextFile, FullDiskLeavesOldFileAndNoTemporaryFile) {
    const auto file = dir_ / "user.dat";
    WriteFileAtomic(file, "old content\r\n");
    const int status = ExitStatusOnAFullDisk([&] {
        try {
            WriteFileAtomic(file, std::string(64 * 1024, 'x'));
        } catch (const FileError&) {
            return 0;
        }
        return 1;
    });
    EXPECT_EQ(status, 0) << "the oversized write did not report a failure";
    EXPECT_EQ(ReadFileBytes(file), "old content\r\n");
    EXPECT_EQ(Entries(), std::set<std::string>{"user.dat"});
}

TEST_F(StorageTextFile, AppendAddsToTheEndAndCreatesAMissingFile) {
    const auto file = dir_ / "7-4-2002.log";
    AppendToFile(file, "morning\r\n");
    AppendToFile(file, "evening\r\n");
    EXPECT_EQ(ReadFileBytes(file), "morning\r\nevening\r\n");
    try {
        AppendToFile(dir_ / "no" / "file.log", "x");
        FAIL() << "no error";
    } catch (const FileError& e) {
        EXPECT_EQ(std::string(e.what()), "Cannot create file " + (dir_ / "no" / "file.log").string() +
                                             ": No such file or directory");
    }
}

// The disk fills up in the middle of an append: the error says so, and the
// part that was written is cut off again, so that a retry does not repeat it.
TEST_F(StorageTextFile, AppendToAFullDiskNamesTheReasonAndLeavesTheFileAsItWas) {
    const auto file = dir_ / "7-4-2002.log";
    AppendToFile(file, "saved before\r\n");
    const int status = ExitStatusOnAFullDisk([&] {
        try {
            AppendToFile(file, std::string(64 * 1024, 'x'));
        } catch (const FileError& e) {
            return std::string(e.what()) == "Cannot create file " + file.string() + ": File too large" ? 0 : 2;
        }
        return 1;
    });
    EXPECT_EQ(status, 0) << "1: no failure reported, 2: the error did not name its reason";
    EXPECT_EQ(ReadFileBytes(file), "saved before\r\n");
}

// A writer killed at arbitrary moments must always leave one whole version.
TEST_F(StorageTextFile, KilledWriterLeavesOldOrNewFileAndItsTemporaryFileIsRemovedLater) {
    const auto file = dir_ / "mail.dat";
    const std::string first(1 << 20, 'a');
    std::string second(700 * 1024, 'b');
    second.back() = '\n';
    WriteFileAtomic(file, first);

    std::mt19937 random(std::random_device{}());
    std::uniform_int_distribution<int> delayMicros(0, 20000);
    for (int round = 0; round < 30; ++round) {
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            try {
                for (unsigned i = 0;; ++i) WriteFileAtomic(file, i % 2 ? first : second);
            } catch (...) {
                ::_exit(1);
            }
        }
        ::usleep(static_cast<useconds_t>(delayMicros(random)));
        ::kill(child, SIGKILL);
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        const std::string bytes = ReadFileBytes(file);
        ASSERT_TRUE(bytes == first || bytes == second) << "round " << round << ": " << bytes.size() << " bytes";
    }
    RemoveLeftoverTempFiles(dir_);
    EXPECT_EQ(Entries(), std::set<std::string>{"mail.dat"});
}

TEST_F(StorageTextFile, OnlyTemporaryFilesOfAnInterruptedWriteAreRemoved) {
    const std::vector<std::string> leftovers = {".user.dat.tmp.0123456789ab", ".mail.dat.tmp.ffffffffffff"};
    const std::vector<std::string> kept = {
        "user.dat", "notes.tmp", ".user.dat.tmp.0123456789AB", ".user.dat.tmp.0123456789a", "user.dat.tmp.0123456789ab",
        ".user.dat.tmp.0123456789abc"};
    for (const auto& name : leftovers) WriteFileAtomic(dir_ / name, "half");
    for (const auto& name : kept) WriteFileAtomic(dir_ / name, "mine");
    fs::create_directory(dir_ / ".folder.tmp.0123456789ab");
    auto removed = RemoveLeftoverTempFiles(dir_);
    std::sort(removed.begin(), removed.end());
    EXPECT_EQ(removed, (std::vector<std::string>{".mail.dat.tmp.ffffffffffff", ".user.dat.tmp.0123456789ab"}));
    std::set<std::string> expected(kept.begin(), kept.end());
    expected.insert(".folder.tmp.0123456789ab");
    EXPECT_EQ(Entries(), expected);
}

}  // namespace
}  // namespace qm
