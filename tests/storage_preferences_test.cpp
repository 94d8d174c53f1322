#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

#include "scratch_dir.h"
#include "storage/preferences.h"
#include "storage/text_file.h"

namespace qm {
namespace {

namespace fs = std::filesystem;

class StoragePreferences : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = test::MakeScratchDir("prefs");
        SaveEnv("XDG_CONFIG_HOME", savedXdg_);
        SaveEnv("HOME", savedHome_);
    }
    void TearDown() override {
        RestoreEnv("XDG_CONFIG_HOME", savedXdg_);
        RestoreEnv("HOME", savedHome_);
        fs::remove_all(dir_);
    }

    static void SaveEnv(const char* name, std::optional<std::string>& slot) {
        if (const char* value = std::getenv(name)) slot = value;
    }
    static void RestoreEnv(const char* name, const std::optional<std::string>& slot) {
        if (slot)
            ::setenv(name, slot->c_str(), 1);
        else
            ::unsetenv(name);
    }

    fs::path dir_;
    std::optional<std::string> savedXdg_, savedHome_;
};

TEST_F(StoragePreferences, DefaultPathFollowsXdgThenHome) {
    ::setenv("HOME", "/home/op", 1);
    ::setenv("XDG_CONFIG_HOME", "/etc/xdg-op", 1);
    EXPECT_EQ(PreferenceStore::DefaultPath(), fs::path("/etc/xdg-op/Quillmoot/preferences"));
    ::setenv("XDG_CONFIG_HOME", "relative/dir", 1);
    EXPECT_EQ(PreferenceStore::DefaultPath(), fs::path("/home/op/.config/Quillmoot/preferences"));
    ::unsetenv("XDG_CONFIG_HOME");
    EXPECT_EQ(PreferenceStore::DefaultPath(), fs::path("/home/op/.config/Quillmoot/preferences"));
}

TEST_F(StoragePreferences, MissingFileGivesTheDefaults) {
    const PreferenceStore store(dir_ / "Quillmoot" / "preferences");
    EXPECT_EQ(store.Get("Main"), std::nullopt);
    EXPECT_EQ(store.GetText("Main", "Main"), "Main");
    EXPECT_FALSE(store.GetBool("Icon", false));
    EXPECT_TRUE(store.GetBool("Icon", true));
    EXPECT_FALSE(fs::exists(dir_ / "Quillmoot"));
}

TEST_F(StoragePreferences, ValuesAreWrittenAtOnceAndReadBack) {
    const auto file = dir_ / "Quillmoot" / "preferences";
    {
        PreferenceStore store(file);
        store.Set("Main", "Lobby");
        store.SetBool("Icon", true);
        store.SetBool("FloodProt", false);
        store.Set("Odd", "a=b\\n\r\nc");
        store.Set("Empty", "");
    }
    const PreferenceStore reread(file);
    EXPECT_EQ(reread.GetText("Main", "Main"), "Lobby");
    EXPECT_TRUE(reread.GetBool("Icon", false));
    EXPECT_FALSE(reread.GetBool("FloodProt", true));
    EXPECT_EQ(reread.Get("Odd"), "a=b\\n\r\nc");
    EXPECT_EQ(reread.Get("Empty"), "");
    EXPECT_EQ(ReadLines(file).size(), 5u);
}

TEST_F(StoragePreferences, UnreadableBooleanFallsBack) {
    const auto file = dir_ / "preferences";
    WriteLines(file, {"Icon=maybe", "FloodProt=1", "no equals sign"});
    const PreferenceStore store(file);
    EXPECT_TRUE(store.GetBool("Icon", true));
    EXPECT_FALSE(store.GetBool("Icon", false));
    EXPECT_TRUE(store.GetBool("FloodProt", false));
}

TEST_F(StoragePreferences, FailedWriteKeepsTheValueInMemory) {
    WriteLines(dir_ / "plainfile", {"x"});
    const auto file = dir_ / "plainfile" / "preferences";
    PreferenceStore store(file);
    try {
        store.Set("Main", "Lobby");
        FAIL() << "no error";
    } catch (const FileError& e) {
        EXPECT_EQ(std::string(e.what()), "Cannot create file " + file.string() + ": Not a directory");
    }
    EXPECT_EQ(store.GetText("Main", "Main"), "Lobby");
}

}  // namespace
}  // namespace qm
