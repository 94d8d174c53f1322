#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "scratch_dir.h"
#include "storage/settings.h"
#include "storage/text_file.h"

namespace qm {
namespace {

namespace fs = std::filesystem;

class StorageSettings : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = test::MakeScratchDir("settings");
    }
    void TearDown() override { fs::remove_all(dir_); }

    void Write(const char* name, const std::vector<std::string>& lines) { WriteLines(dir_ / name, lines); }

    fs::path dir_;
};

// messages.dat in file order.
const std::vector<std::string Settings::*> kMessageOrder = {
    &Settings::Prefix, &Settings::Join,    &Settings::Part, &Settings::Quit, &Settings::Diss,
    &Settings::Kill,   &Settings::Channel, &Settings::Op,   &Settings::Deop, &Settings::Kick,
    &Settings::ServOP, &Settings::ChanOP,  &Settings::IsBanned,
};

const std::vector<std::string Settings::*> kServerOrder = {
    &Settings::Port, &Settings::Max, &Settings::Welcome, &Settings::Busy, &Settings::Saver,
};

std::vector<std::string> Numbered(const std::string& stem, size_t count) {
    std::vector<std::string> lines;
    for (size_t i = 1; i <= count; ++i) lines.push_back(stem + std::to_string(i));
    return lines;
}

TEST_F(StorageSettings, MessagesAreTakenByLineNumber) {
    Write(files::kMessages, Numbered("m", 15));
    Settings s;
    LoadMessages(dir_, s);
    for (size_t i = 0; i < kMessageOrder.size(); ++i) EXPECT_EQ(s.*kMessageOrder[i], "m" + std::to_string(i + 1));
}

TEST_F(StorageSettings, ShortFilesGiveEmptyValues) {
    Write(files::kMessages, Numbered("m", 2));
    Write(files::kServer, {"4000", "20", "Hi"});
    Settings s;
    s.IsBanned = "old";
    LoadMessages(dir_, s);
    LoadServerSettings(dir_, s);
    EXPECT_EQ(s.Prefix, "m1");
    EXPECT_EQ(s.Join, "m2");
    for (size_t i = 2; i < kMessageOrder.size(); ++i) EXPECT_EQ(s.*kMessageOrder[i], "") << "line " << i + 1;
    EXPECT_EQ(s.Port, "4000");
    EXPECT_EQ(s.Max, "20");
    EXPECT_EQ(s.Welcome, "Hi");
    EXPECT_EQ(s.Busy, "");
    EXPECT_EQ(s.Saver, "");
    // Start-up stops at the log timer in this case.
    EXPECT_THROW(ParseWholeNumber(s.Saver), SettingError);
}

TEST_F(StorageSettings, ReloadTakesOnlyWelcomeAndBusy) {
    Write(files::kServer, {"21", "10", "Welcome", "Busy", "5"});
    Settings s;
    LoadServerSettings(dir_, s);
    Write(files::kServer, {"9999", "99", "New welcome", "New busy", "77"});
    ReloadServerTexts(dir_, s);
    EXPECT_EQ(s.Port, "21");
    EXPECT_EQ(s.Max, "10");
    EXPECT_EQ(s.Saver, "5");
    EXPECT_EQ(s.Welcome, "New welcome");
    EXPECT_EQ(s.Busy, "New busy");
}

TEST_F(StorageSettings, HelpTextsStopAtTheFirstMissingFile) {
    Write(files::kHelp, {"Help line 1", "Help line 2"});
    Write(files::kHelpChannel, {"channels"});
    Settings s;
    s.HelpReg = "old reg";
    s.HelpChan = "old chan";
    try {
        LoadHelpTexts(dir_, s);
        FAIL() << "no error";
    } catch (const FileError& e) {
        EXPECT_EQ(std::string(e.what()), "Cannot open file " + (dir_ / files::kHelpRegister).string());
    }
    EXPECT_EQ(s.HelpReply, "Help line 1\r\nHelp line 2\r\n");
    EXPECT_EQ(s.HelpReg, "old reg");
    EXPECT_EQ(s.HelpChan, "old chan");

    Write(files::kHelpRegister, {"register"});
    LoadHelpTexts(dir_, s);
    EXPECT_EQ(s.HelpReg, "register\r\n");
    EXPECT_EQ(s.HelpChan, "channels\r\n");
}

TEST_F(StorageSettings, AnnouncementIsHeldWithCrLfLineEnds) {
    WriteFileAtomic(dir_ / files::kAnnounce, "News\nMore news");
    Settings s;
    LoadAnnouncement(dir_, s);
    EXPECT_EQ(s.Announcement, "News\r\nMore news\r\n");
}

TEST_F(StorageSettings, BansRoundTrip) {
    Settings s;
    s.Bans = {"192.168.1.5", "10.*.1", "1?.0"};
    SaveBans(dir_, s);
    EXPECT_EQ(ReadFileBytes(dir_ / files::kBans), "192.168.1.5\r\n10.*.1\r\n1?.0\r\n");
    Settings loaded;
    LoadBans(dir_, loaded);
    EXPECT_EQ(loaded.Bans, s.Bans);
}

TEST_F(StorageSettings, SavePropertiesWritesThreeFilesThatLoadBack) {
    Settings s;
    for (size_t i = 0; i < kMessageOrder.size(); ++i) s.*kMessageOrder[i] = "text " + std::to_string(i);
    s.Port = "2323";
    s.Saver = "7";
    s.HelpReply = "Commands:\r\n/help\r\n";
    s.HelpChan = "never written";
    SaveProperties(dir_, s);

    EXPECT_EQ(ReadFileBytes(dir_ / files::kServer), "2323\r\n10\r\n" + s.Welcome + "\r\n" + s.Busy + "\r\n7\r\n");
    EXPECT_EQ(ReadFileBytes(dir_ / files::kHelp), s.HelpReply);
    EXPECT_FALSE(fs::exists(dir_ / files::kHelpChannel));

    Settings loaded;
    LoadMessages(dir_, loaded);
    LoadServerSettings(dir_, loaded);
    for (const auto field : kMessageOrder) EXPECT_EQ(loaded.*field, s.*field);
    for (const auto field : kServerOrder) EXPECT_EQ(loaded.*field, s.*field);
    EXPECT_EQ(ReadText(dir_ / files::kHelp), s.HelpReply);
}

TEST_F(StorageSettings, SavePropertiesKeepsFilesWrittenBeforeAFailure) {
    // A directory in the way of qmserv.dat makes the last write fail.
    fs::create_directories(dir_ / files::kServer / "blocker");
    Settings s;
    s.Prefix = "***";
    s.HelpReply = "help\r\n";
    try {
        SaveProperties(dir_, s);
        FAIL() << "no error";
    } catch (const FileError& e) {
        EXPECT_EQ(std::string(e.what()), "Cannot create file " + (dir_ / files::kServer).string() + ": Is a directory");
    }
    EXPECT_EQ(ReadLines(dir_ / files::kMessages).at(0), "***");
    EXPECT_EQ(ReadText(dir_ / files::kHelp), "help\r\n");
}

TEST_F(StorageSettings, ParseWholeNumberAcceptsDecimalIntegers) {
    const std::vector<std::pair<std::string, int>> good = {
        {"21", 21},           {"0", 0},        {"007", 7},
        {" 42 ", 42},         {"\t5", 5},      {"+7", 7},
        {"-5", -5},           {"2147483647", 2147483647},
        {"-2147483648", -2147483647 - 1},
    };
    for (const auto& [text, value] : good) EXPECT_EQ(ParseWholeNumber(text), value) << text;

    const std::vector<std::string> bad = {"", " ", "abc", "12a", "1 2", "+", "-", "+-1", "--1",
                                          "0x10", "1.5", "2147483648", "-2147483649"};
    for (const auto& text : bad) {
        try {
            ParseWholeNumber(text);
            ADD_FAILURE() << "accepted '" << text << "'";
        } catch (const SettingError& e) {
            EXPECT_EQ(std::string(e.what()), "'" + text + "' is not a valid integer value");
        }
    }
}

struct ServerNumberCase {
    ServerNumber which;
    std::string Settings::*field;
    std::string text;
    int value;          // when accepted
    std::string error;  // after the file's name; empty when accepted
};

TEST_F(StorageSettings, ServerNumbersNameTheFileTheLineAndTheValueWhenWrong) {
    const std::string kPortRange = " (1-65535, or 0 for any free port)";
    const std::vector<ServerNumberCase> cases = {
        {ServerNumber::kPort, &Settings::Port, "2121", 2121, ""},
        {ServerNumber::kPort, &Settings::Port, "0", 0, ""},
        {ServerNumber::kPort, &Settings::Port, "65535", 65535, ""},
        {ServerNumber::kPort, &Settings::Port, "65536", 0, ", line 1: '65536' is no port" + kPortRange},
        {ServerNumber::kPort, &Settings::Port, "-21", 0, ", line 1: '-21' is no port" + kPortRange},
        {ServerNumber::kPort, &Settings::Port, "telnet", 0, ", line 1: 'telnet' is not a valid integer value"},
        {ServerNumber::kMax, &Settings::Max, "", 0, ""},
        {ServerNumber::kMax, &Settings::Max, "250", 250, ""},
        {ServerNumber::kMax, &Settings::Max, "lots", 0, ", line 2: 'lots' is not a valid integer value"},
        {ServerNumber::kSaver, &Settings::Saver, "5", 5, ""},
        {ServerNumber::kSaver, &Settings::Saver, "", 0, ", line 5: '' is not a valid integer value"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        Settings s;
        s.*c.field = c.text;
        try {
            EXPECT_EQ(ServerSettingNumber(dir_, s, c.which), c.value);
            EXPECT_EQ(c.error, "");
        } catch (const SettingError& e) {
            EXPECT_EQ(std::string(e.what()), (dir_ / "qmserv.dat").string() + c.error);
        }
    }
}

struct BanCase {
    const char* entry;
    const char* address;
    bool banned;
};

TEST_F(StorageSettings, BanEntryMatchesByEqualityOrWildcard) {
    const BanCase cases[] = {
        {"192.168.1.5", "192.168.1.5", true},
        {"192.168.1.5", "192.168.1.50", true},  // what follows the pattern is not looked at
        {"10.0.0.1", "10.0.0.12", true},
        {"10.0.0.100", "10.0.0.1", false},      // the pattern runs past the address
        {"10.*.1", "10.45.1", true},
        {"10.*.1", "10.ab.1x", true},
        {"10.*.1", "10.4.1", false},            // "*" is exactly two characters
        {"1?.0", "12.0.0.7", true},
        {"1?.0", "1.0", false},
        {"??", "a", true},                      // "?" past the end is not checked
        {"?x", "a", false},
        {"", "127.0.0.1", true},                // an empty entry bans everyone
        {"HOST.example", "host.EXAMPLE", true}, // equality ignores letter case
        {"HOST", "host.example", false},        // the wildcard rule does not
        {"127.0.0.1", "127.0.0.2", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(BanEntryMatches(c.entry, c.address), c.banned) << c.entry << " vs " << c.address;
}

}  // namespace
}  // namespace qm
