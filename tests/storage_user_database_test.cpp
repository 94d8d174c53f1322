#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <filesystem>
#include <string>
#include <vector>

#include "scratch_dir.h"
#include "storage/text_file.h"
#include "storage/user_database.h"

namespace qm {
namespace {

namespace fs = std::filesystem;

struct CrypteCase {
    std::string text, key, enciphered;
};

TEST(StoragePasswordScheme, CrypteAddsKeyBytesModulo256) {
    const std::vector<CrypteCase> cases = {
        {"abc", "", ""},
        {"", "key", ""},
        {"\x01\x02", "\x01", "\x02\x03"},
        {"aaaaa", "\x01\x02", "bcbcb"},  // the key repeats
        {"\xff\x80", "\x02", std::string("\x01\x82")},
        {"p", "Bob", "\xb2"},
        {std::string(256, 'x'), "Bob", ""},  // the length counts in one byte
        {std::string(255, 'x'), "\x01", std::string(255, 'y')},
        {std::string(300, 'x'), "\x01", std::string(44, 'y')},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Crypte(c.text, c.key), c.enciphered)
            << "text of " << c.text.size() << " bytes, key " << ::testing::PrintToString(c.key);
}

struct SerialCase {
    int32_t base;
    std::string text, serial;
};

TEST(StoragePasswordScheme, GiveSerialWrapsIn32Bits) {
    const std::vector<SerialCase> cases = {
        {69, "abc", "64809-823239-1924452"},
        {69, "", "Error"},
        {0, "abc", "Error"},
        {0, "", "Error"},
        {69, "\xb2z", "118686-1510686-2354297"},  // first byte above 127 counts unsigned
        {-1, "a", "64601--11931-641460"},
        {INT32_MAX, "a", "-2147419047-2147471717--2146842188"},
    };
    for (const auto& c : cases) EXPECT_EQ(GiveSerial(c.base, c.text), c.serial) << c.base << " " << c.text;
}

TEST(StoragePasswordScheme, EncodePasswordEnciphersWithTheNickname) {
    EXPECT_EQ(EncodePassword("Bob", "pw"), "118686-1510686-2354297");
    EXPECT_EQ(EncodePassword("Bob", "pw"), GiveSerial(69, Crypte("pw", "Bob")));
    // Only the length and the first enciphered byte count.
    EXPECT_EQ(EncodePassword("Bob", "secret"), EncodePassword("Bob", "sXXXXX"));
    EXPECT_NE(EncodePassword("Bob", "secret"), EncodePassword("Bob", "secrets"));
    EXPECT_NE(EncodePassword("Bob", "secret"), EncodePassword("Amy", "secret"));
    EXPECT_EQ(EncodePassword("Bob", ""), "Error");
    EXPECT_EQ(EncodePassword("Bob", std::string(256, 'q')), "Error");
    EXPECT_EQ(EncodePassword("Bob", std::string(512, 'q')), EncodePassword("Bob", ""));
}

class StorageUserDatabase : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = test::MakeScratchDir("users");
        db_.onChange = [this] { ++changes_; };
    }
    void TearDown() override { fs::remove_all(dir_); }

    void LoadLines(const std::vector<std::string>& lines) {
        WriteLines(dir_ / "user.dat", lines);
        db_.Load(dir_ / "user.dat");
    }

    fs::path dir_;
    UserDatabase db_;
    int changes_ = 0;
};

struct LookupCase {
    std::string nick;
    int index;
};

TEST_F(StorageUserDatabase, FindUserRecordLooksAtNicknameLinesOnly) {
    LoadLines({"Bob", "Carl", "Y", "N", "N", "N", "Amy", "x", "N", "Y", "N", "N"});
    const std::vector<LookupCase> cases = {
        {"Bob", 0}, {"Amy", 6}, {"bob", 0}, {"BOB", 0}, {"aMY", 6},
        {"Carl", -1},  // a password line, not a nickname
        {"carl", -1}, {"Y", -1}, {"y", -1}, {"", -1}, {"Bo", -1},
    };
    for (const auto& k : cases) EXPECT_EQ(db_.FindUserRecord(k.nick), k.index) << k.nick;
    EXPECT_EQ(changes_, 0);
}

TEST_F(StorageUserDatabase, FindUserRecordPrefersTheExactSpellingThenTheFirst) {
    LoadLines({"Bob", "1", "Y", "N", "N", "N", "Bob", "2", "Y", "N", "N", "N",  //
               "ann", "3", "Y", "N", "N", "N", "Ann", "4", "Y", "N", "N", "N", "ANN", "5", "Y", "N", "N", "N"});
    const std::vector<LookupCase> cases = {
        {"Bob", 0}, {"bob", 0}, {"ann", 12}, {"Ann", 18}, {"ANN", 24}, {"aNN", 12},
    };
    for (const auto& k : cases) EXPECT_EQ(db_.FindUserRecord(k.nick), k.index) << k.nick;
}

TEST_F(StorageUserDatabase, CutShortRecordReadsEmptyAndPadsOnChange) {
    LoadLines({"Bob", "pw", "Y", "N", "N", "N", "Amy", "pw2"});
    EXPECT_EQ(db_.RecordLine(6, UserDatabase::kPassword), "pw2");
    EXPECT_EQ(db_.RecordLine(6, UserDatabase::kEcho), "");
    EXPECT_EQ(db_.RecordLine(6, UserDatabase::kSpy), "");
    db_.SetRecordLine(6, UserDatabase::kSpy, "Y");
    EXPECT_EQ(changes_, 1);
    const std::vector<std::string> expected = {"Bob", "pw", "Y", "N", "N", "N", "Amy", "pw2", "", "", "", "Y"};
    EXPECT_EQ(db_.Lines(), expected);
}

TEST_F(StorageUserDatabase, SetRecordLineChangesOneLineInPlace) {
    LoadLines({"Bob", "pw", "Y", "N", "N", "N", "Amy", "pw2", "Y", "N", "N", "N"});
    db_.SetRecordLine(6, UserDatabase::kPassword, EncodePassword("Amy", "new"));
    db_.SetRecordLine(0, UserDatabase::kServOp, "Y");
    EXPECT_EQ(changes_, 2);
    EXPECT_EQ(db_.RecordLine(6, UserDatabase::kPassword), EncodePassword("Amy", "new"));
    EXPECT_EQ(db_.RecordLine(0, UserDatabase::kServOp), "Y");
    EXPECT_EQ(db_.Lines().size(), 12u);
}

TEST_F(StorageUserDatabase, AppendedRecordIsSavedAtTheEnd) {
    LoadLines({"Bob", "pw", "N", "N", "N", "N"});
    db_.AppendRecord("Amy", EncodePassword("Amy", "secret"));
    EXPECT_EQ(changes_, 1);
    EXPECT_EQ(db_.FindUserRecord("Amy"), 6);
    WriteLines(dir_ / "user.dat", db_.Lines());
    const std::vector<std::string> expected = {"Bob", "pw", "N", "N", "N", "N",
                                               "Amy", EncodePassword("Amy", "secret"), "Y", "N", "N", "N"};
    EXPECT_EQ(ReadFileBytes(dir_ / "user.dat"), JoinLines(expected));
    UserDatabase reloaded;
    reloaded.Load(dir_ / "user.dat");
    EXPECT_EQ(reloaded.Lines(), expected);
}

// A user.dat cut short ends in part of a record; a record appended after it
// must still start on a record boundary, or it could never be found.
TEST_F(StorageUserDatabase, AppendAfterCutShortRecordStartsOnARecordBoundary) {
    const std::vector<std::string> whole = {"Bob", "pw", "Y", "N", "N", "N"};
    for (const std::size_t kept : {1u, 2u, 3u, 4u, 5u}) {
        SCOPED_TRACE(kept);
        std::vector<std::string> lines = whole;
        const std::vector<std::string> amy = {"Amy", "pw2", "N", "Y", "N"};
        lines.insert(lines.end(), amy.begin(), amy.begin() + static_cast<std::ptrdiff_t>(kept));
        LoadLines(lines);
        db_.AppendRecord("Carl", EncodePassword("Carl", "secret"));
        EXPECT_EQ(db_.FindUserRecord("Carl"), 12);
        EXPECT_EQ(db_.RecordLine(12, UserDatabase::kPassword), EncodePassword("Carl", "secret"));
        // The cut-short record reads as before: its missing lines empty.
        EXPECT_EQ(db_.FindUserRecord("Amy"), 6);
        for (std::size_t field = kept; field < UserDatabase::kRecordLines; ++field)
            EXPECT_EQ(db_.RecordLine(6, static_cast<UserDatabase::Field>(field)), "");
        ASSERT_EQ(db_.Lines().size(), 18u);
    }
}

TEST_F(StorageUserDatabase, FailedLoadKeepsTheLines) {
    LoadLines({"Bob", "pw", "Y", "N", "N", "N"});
    try {
        db_.Load(dir_ / "absent.dat");
        FAIL() << "no error";
    } catch (const FileError& e) {
        EXPECT_EQ(std::string(e.what()), "Cannot open file " + (dir_ / "absent.dat").string());
    }
    EXPECT_EQ(db_.FindUserRecord("Bob"), 0);
}

struct ShiftedRecords {
    std::vector<std::string> lines;
    std::size_t line;  // from 1
    std::string value;
};

TEST_F(StorageUserDatabase, RecordCutShortInTheMiddleStopsTheLoad) {
    // A record that lost a line makes every later record start one line
    // early, so a password or a nickname lands on a setting line.
    const std::vector<ShiftedRecords> cases = {
        {{"Bob", "pw", "Y", "N", "N", "N", "Amy", "Y", "N", "N", "N", "Cid", "pw3", "Y", "N", "N", "N"}, 12, "Cid"},
        {{"Bob", "Y", "N", "N", "N", "Amy", "pw2", "Y", "N", "N", "N", "Cid"}, 6, "Amy"},
        {{"Bob", "pw", "Y", "N", "N", "N", "Amy", "pw2", "Y", "N", "N", "N", "Cid", "pw3", "Y", "N", "N", "Yes"},
         18, "Yes"},
    };
    LoadLines({"Old", "pw", "Y", "N", "N", "N"});
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value);
        try {
            LoadLines(c.lines);
            FAIL() << "no error";
        } catch (const FileError& e) {
            EXPECT_EQ(std::string(e.what()), "Damaged file " + (dir_ / "user.dat").string() + ", line " +
                                                 std::to_string(c.line) + ": '" + c.value +
                                                 "' is no setting; a record above is cut short");
        }
        EXPECT_EQ(db_.FindUserRecord("Old"), 0);
    }
}

TEST_F(StorageUserDatabase, LastRecordCutShortAndEmptySettingsStillLoad) {
    LoadLines({"Bob", "pw", "", "N", "", "N", "Amy", "pw2", "Y", "Y and more"});
    EXPECT_EQ(db_.FindUserRecord("Amy"), 6);
    EXPECT_EQ(db_.RecordLine(6, UserDatabase::kServOp), "Y and more");
    EXPECT_EQ(db_.RecordLine(6, UserDatabase::kSpy), "");
}

}  // namespace
}  // namespace qm
