#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "scratch_dir.h"
#include "storage/file_writer.h"
#include "storage/text_file.h"

namespace qm {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

class StorageFileWriter : public ::testing::Test {
protected:
    void SetUp() override { dir_ = test::MakeScratchDir("writer"); }
    void TearDown() override { fs::remove_all(dir_); }

    // Records each report as "<name>:" followed by the error, if any.
    FileWriter::Done Record(const std::string& name) {
        return [this, name](const std::string& error) {
            std::lock_guard lock(mutex_);
            reports_.push_back(name + ":" + error);
        };
    }
    std::vector<std::string> Reports() {
        std::lock_guard lock(mutex_);
        return reports_;
    }

    fs::path dir_;
    std::mutex mutex_;
    std::vector<std::string> reports_;
};

TEST_F(StorageFileWriter, WritesInOrderAndReportsEachWrite) {
    FileWriter writer;
    writer.Append(dir_ / "day.log", "one\r\n", Record("log"));
    writer.Replace(dir_ / "user.dat", [] { return std::string("Ann\r\n"); }, Record("users"));
    writer.Append(dir_ / "no" / "day.log", "lost\r\n", Record("missing"));
    ASSERT_TRUE(writer.WaitUntilIdle(10s));
    EXPECT_EQ(ReadFileBytes(dir_ / "day.log"), "one\r\n");
    EXPECT_EQ(ReadFileBytes(dir_ / "user.dat"), "Ann\r\n");
    const std::vector<std::string> expected = {
        "log:", "users:",
        "missing:Cannot create file " + (dir_ / "no" / "day.log").string() + ": No such file or directory"};
    EXPECT_EQ(Reports(), expected);
    EXPECT_EQ(writer.Failures(), 1u);
}

// Work handed over while a write runs waits for it; a file replaced twice
// meanwhile is written once with the latest contents, and appends to one
// file are joined.
TEST_F(StorageFileWriter, WorkThatWaitsIsJoinedPerFile) {
    FileWriter writer;
    std::mutex gate;
    std::unique_lock closed(gate);
    int built = 0;
    writer.Replace(dir_ / "first", [&] {
        std::lock_guard wait(gate);
        return std::string("held");
    }, Record("first"));
    writer.Replace(dir_ / "user.dat", [&] {
        ++built;
        return std::string("old");
    }, Record("users 1"));
    writer.Append(dir_ / "day.log", "a\r\n", Record("log 1"));
    writer.Replace(dir_ / "user.dat", [&] {
        ++built;
        return std::string("new");
    }, Record("users 2"));
    writer.Append(dir_ / "day.log", "b\r\n", Record("log 2"));
    closed.unlock();
    ASSERT_TRUE(writer.WaitUntilIdle(10s));
    EXPECT_EQ(built, 1);
    EXPECT_EQ(ReadFileBytes(dir_ / "user.dat"), "new");
    EXPECT_EQ(ReadFileBytes(dir_ / "day.log"), "a\r\nb\r\n");
    EXPECT_EQ(Reports(), (std::vector<std::string>{"first:", "users 1:", "users 2:", "log 1:", "log 2:"}));
}

TEST_F(StorageFileWriter, EndingWritesWhatWasHandedOver) {
    {
        FileWriter writer;
        for (int i = 0; i < 3; ++i) writer.Append(dir_ / "day.log", std::to_string(i), Record("log"));
    }
    EXPECT_EQ(ReadFileBytes(dir_ / "day.log"), "012");
}

}  // namespace
}  // namespace qm
