#pragma once
// A fresh, empty directory for the running test, named after it.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>

namespace qm::test {

// Outside a test (a tool that borrows the harness) it is named after the
// process alone.
inline std::filesystem::path MakeScratchDir(const std::string& tag) {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    const std::string test =
        info != nullptr ? std::string(info->test_suite_name()) + "_" + info->name() : std::string("tool");
    const auto dir =
        std::filesystem::path(::testing::TempDir()) / ("qm_" + tag + "_" + std::to_string(::getpid()) + "_" + test);
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    return dir;
}

}  // namespace qm::test
