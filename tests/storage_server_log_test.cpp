#include <gtest/gtest.h>
#include <unistd.h>

#include <ctime>
#include <string>
#include <vector>

#include "storage/clock.h"
#include "storage/server_log.h"
#include "storage/text_file.h"

namespace qm {
namespace {

using namespace std::chrono_literals;

// A moment given in local time, whatever the machine's time zone.
TimePoint Local(int year, int month, int day, int hour, int minute, int second = 0) {
    std::tm tm{};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = hour;
    tm.tm_min = minute;
    tm.tm_sec = second;
    tm.tm_isdst = -1;
    return std::chrono::system_clock::from_time_t(std::mktime(&tm));
}

TEST(StorageClock, ToLocalBreaksDownInTheLocalZone) {
    const auto t = ToLocal(Local(2002, 7, 4, 13, 5, 9));
    EXPECT_EQ(t.year, 2002);
    EXPECT_EQ(t.month, 7);
    EXPECT_EQ(t.day, 4);
    EXPECT_EQ(t.hour, 13);
    EXPECT_EQ(t.minute, 5);
    EXPECT_EQ(t.second, 9);
}

TEST(StorageClock, FormatsTimesAndFileNames) {
    struct Case {
        TimePoint when;
        const char* hourMinute;
        const char* fileName;
    };
    const Case cases[] = {
        {Local(2002, 7, 4, 13, 5), "13:05", "7-4-2002.log"},
        {Local(2023, 12, 31, 0, 0), "00:00", "12-31-2023.log"},
        {Local(1999, 1, 9, 9, 59, 59), "09:59", "1-9-1999.log"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FormatHourMinute(c.when), c.hourMinute);
        EXPECT_EQ(LogFileName(c.when), c.fileName);
    }
}

TEST(StorageClock, DurationHoursRestartAfterADay) {
    const std::pair<std::chrono::seconds, const char*> cases[] = {
        {0s, "00:00:00"},  {59s, "00:00:59"},       {1h + 1min + 1s, "01:01:01"}, {23h + 59min + 59s, "23:59:59"},
        {24h, "00:00:00"}, {25h, "01:00:00"},       {-5s, "00:00:00"},
    };
    for (const auto& [duration, text] : cases) EXPECT_EQ(FormatDuration(duration), text) << duration.count();
}

class StorageServerLog : public ::testing::Test {
protected:
    ManualClock clock_{Local(2002, 7, 4, 23, 58)};
};

TEST_F(StorageServerLog, LinesAreStampedWithTheTimeOfWriting) {
    ServerLog log(clock_);
    std::vector<std::string> told;
    log.onLine = [&](const std::string& line) { told.push_back(line); };
    log.Add("Loaded preferences.");
    clock_.Advance(3min);
    log.Add("Databases ready.");
    const std::vector<std::string> expected = {"Loaded Quillmoot.", "[23:58] Loaded preferences.",
                                               "[00:01] Databases ready."};
    EXPECT_EQ(std::vector<std::string>(log.Lines().begin(), log.Lines().end()), expected);
    EXPECT_EQ(told, std::vector<std::string>(expected.begin() + 1, expected.end()));
}

// The log reaches the operator's terminal and carries text from users, files
// and IRC: no control character of either kind gets into it, and 8-bit
// letters stay.
TEST_F(StorageServerLog, ControlCharactersAreLeftOut) {
    ServerLog log(clock_);
    std::vector<std::string> told;
    log.onLine = [&](const std::string& line) { told.push_back(line); };
    log.Add("a\x1B[2Jb\xC2\x9B" "1mc\r\nd\x07\xC2\x85 caf\xE9 \xC2\xA9");
    const std::string clean = "[23:58] a[2Jb1mcd caf\xE9 \xC2\xA9";
    EXPECT_EQ(log.Lines().back(), clean);
    EXPECT_EQ(told, std::vector<std::string>{clean});
}

TEST_F(StorageServerLog, UnsavedLinesAreHandedOutOnceForTheDayOfTheSave) {
    ServerLog log(clock_);
    log.Add("before midnight");
    EXPECT_EQ(log.FileNameNow(), "7-4-2002.log");
    EXPECT_EQ(log.TakeUnsaved(), "Loaded Quillmoot.\r\n[23:58] before midnight\r\n");
    EXPECT_EQ(log.TakeUnsaved(), "");
    clock_.Advance(5min);
    log.Add("after midnight");
    EXPECT_EQ(log.FileNameNow(), "7-5-2002.log");
    EXPECT_EQ(log.TakeUnsaved(), "[00:03] after midnight\r\n");
}

TEST_F(StorageServerLog, BytesThatFailedToSaveGoFirstNextTime) {
    ServerLog log(clock_);
    log.Add("first");
    std::string failed = log.TakeUnsaved();
    log.Add("second");
    log.ReturnUnsaved(std::move(failed));
    EXPECT_EQ(log.TakeUnsaved(), "Loaded Quillmoot.\r\n[23:58] first\r\n[23:58] second\r\n");
}

TEST_F(StorageServerLog, SavesThatKeepFailingHoldOnlyTheLatestLines) {
    ServerLog log(clock_);
    const std::string text(1000, 'x');
    std::size_t added = 0;
    while (added <= ServerLog::kUnsavedKept) {
        log.Add(text);
        added += text.size();
        if (added % (1 << 20) < text.size()) log.ReturnUnsaved(log.TakeUnsaved());
    }
    log.Add("latest");
    log.ReturnUnsaved(log.TakeUnsaved());
    const std::string held = log.TakeUnsaved();
    EXPECT_LE(held.size(), ServerLog::kUnsavedKept);
    EXPECT_GT(held.size(), ServerLog::kUnsavedKept - 2 * text.size());
    EXPECT_TRUE(held.starts_with("[23:58] x")) << held.substr(0, 20);
    EXPECT_TRUE(held.ends_with("[23:58] latest\r\n"));
}

TEST_F(StorageServerLog, OnlyTheLatestLinesStayInMemory) {
    ServerLog log(clock_, 3);
    for (const char* text : {"one", "two", "three", "four"}) log.Add(text);
    const std::vector<std::string> expected = {"[23:58] two", "[23:58] three", "[23:58] four"};
    EXPECT_EQ(std::vector<std::string>(log.Lines().begin(), log.Lines().end()), expected);
    // Saving still has every line.
    EXPECT_EQ(SplitLines(log.TakeUnsaved()).size(), 5u);
}

TEST_F(StorageServerLog, AskingForASaveOnceTheUnsavedLinesAreMany) {
    ServerLog log(clock_);
    int asked = 0;
    log.onUnsavedFull = [&] {
        ++asked;
        log.TakeUnsaved();
    };
    const std::string text(1000, 'x');
    for (std::size_t added = 0; added <= 2 * ServerLog::kUnsavedLimit; added += text.size()) log.Add(text);
    EXPECT_EQ(asked, 2);
}

}  // namespace
}  // namespace qm
