#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "scratch_dir.h"
#include "storage/mail_store.h"
#include "storage/text_file.h"

namespace qm {
namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;
using namespace std::string_literals;

struct RtfCase {
    const char* what;
    std::string rtf;
    Lines paragraphs;
};

TEST(StorageRtf, ReadsWhatEditControlsWrite) {
    const std::vector<RtfCase> cases = {
        {"rich edit 1",
         "{\\rtf1\\ansi\\deff0{\\fonttbl{\\f0\\fnil\\fcharset0 MS Sans Serif;}}\r\n"
         "\\viewkind4\\uc1\\pard\\f0\\fs16 line\\par\r\nline\\par\r\n}\r\n",
         {"line", "line"}},
        {"rich edit 2 with generator, colours and a trailing NUL",
         "{\\rtf1\\ansi\\ansicpg1252\\deff0\\nouicompat{\\fonttbl{\\f0\\fnil\\fcharset0 Calibri;}}\r\n"
         "{\\colortbl ;\\red255\\green0\\blue0;}\r\n"
         "{\\*\\generator Riched20 10.0.19041}\\viewkind4\\uc1 \r\n"
         "\\pard\\sa200\\sl276\\slmult1\\f0\\fs22\\lang9 bob\\par\r\n"
         "From: amy : hi\\par\r\n}\r\n\0"s,
         {"bob", "From: amy : hi"}},
        {"last paragraph without \\par", "{\\rtf1 one\\par two}", {"one", "two"}},
        {"empty paragraphs", "{\\rtf1 \\par\\par x\\par}", {"", "", "x"}},
        {"no paragraphs", "{\\rtf1\\ansi }", {}},
        {"escapes", "{\\rtf1 a\\\\b\\{c\\}\\'e9\\'FF\\tab z\\par}", {"a\\b{c}\xe9\xff\tz"}},
        {"\\line ends a line too", "{\\rtf1 a\\line b\\par}", {"a", "b"}},
        {"parameter and delimiting blank", "{\\rtf1\\fs20  two blanks\\par}", {" two blanks"}},
        {"negative parameter", "{\\rtf1\\fi-360 x\\par}", {"x"}},
        {"formatting groups keep their text", "{\\rtf1 a{\\b bold}{\\i\\ul it} c\\par}", {"aboldit c"}},
        {"skipped destinations",
         "{\\rtf1{\\stylesheet{\\s0 Normal;}}{\\info{\\title T}{\\author A}}{\\*\\unknown x\\par}keep\\par}",
         {"keep"}},
        {"unicode with fallback", "{\\rtf1\\uc1 caf\\u233?\\u8364?\\u-4064?.\\par}", {"caf\xe9??."}},
        {"unicode without fallback", "{\\rtf1\\uc0 \\u233 x\\par}", {"\xe9x"}},
        {"hex fallback", "{\\rtf1\\uc1\\u8212\\'97 x\\par}", {"? x"}},
        {"raw line breaks are not text", "{\\rtf1 a\r\nb\rc\nd\\par}", {"abcd"}},
        {"text after the document is ignored", "{\\rtf1 a\\par}junk\\par", {"a"}},
        {"binary data is skipped", "{\\rtf1 a{\\*\\blip\\bin3 }{}}b\\par}", {"ab"}},
    };
    for (const auto& c : cases) EXPECT_EQ(ParseRtfParagraphs(c.rtf), c.paragraphs) << c.what;
}

TEST(StorageRtf, WrittenLinesReadBackExactly) {
    std::string everyByte;
    for (int b = 0; b < 256; ++b) everyByte += static_cast<char>(b);
    const std::vector<Lines> documents = {
        {},
        {""},
        {"", ""},
        {"plain", "two words", " leading and trailing blanks "},
        {"a\\b", "{x}", "}{", "\\par", "\\'41", "trailing \\"},
        {"\xff\x80\x7f", "\ttab\tinside", "1 starts with a digit", "-5"},
        {everyByte, "after"},
    };
    for (const auto& lines : documents) {
        const std::string rtf = WriteRtfParagraphs(lines);
        EXPECT_TRUE(rtf.starts_with("{\\rtf1"));
        EXPECT_EQ(ParseRtfParagraphs(rtf), lines) << rtf;
    }
}

class StorageMailStore : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = test::MakeScratchDir("mail");
        store_.onChange = [this] { ++changes_; };
    }
    void TearDown() override { fs::remove_all(dir_); }

    fs::path dir_;
    MailStore store_;
    int changes_ = 0;
};

TEST_F(StorageMailStore, MessagesAreCountedAndNumberedPerExactRecipient) {
    store_.Append("bob", "amy", "first");
    store_.Append("Bob", "amy", "not for bob");
    store_.Append("bob", "carl", "second");
    EXPECT_EQ(changes_, 3);
    EXPECT_EQ(store_.CountFor("bob"), 2);
    EXPECT_EQ(store_.CountFor("Bob"), 1);
    EXPECT_EQ(store_.CountFor("BOB"), 0);
    EXPECT_EQ(store_.FindMessage("bob", 1), 0);
    EXPECT_EQ(store_.FindMessage("bob", 2), 4);
    EXPECT_EQ(store_.MessageLine(4), "From: carl : second");
    for (const int n : {3, 0, -1}) EXPECT_EQ(store_.FindMessage("bob", n), -1) << n;
    // A sender's text that equals a nickname is never taken for a recipient.
    store_.Append("amy", "bob", "bob");
    EXPECT_EQ(store_.CountFor("From: bob : bob"), 0);
}

TEST_F(StorageMailStore, RemovingRenumbersTheRest) {
    store_.Append("bob", "amy", "one");
    store_.Append("bob", "amy", "two");
    store_.Remove(store_.FindMessage("bob", 1));
    EXPECT_EQ(changes_, 3);
    EXPECT_EQ(store_.CountFor("bob"), 1);
    EXPECT_EQ(store_.MessageLine(store_.FindMessage("bob", 1)), "From: amy : two");
    EXPECT_EQ(store_.Lines().size(), 2u);
}

TEST_F(StorageMailStore, LongTextIsCut) {
    store_.Append("bob", "amy", std::string(MailStore::kMaxMessage + 100, 'x'));
    EXPECT_EQ(store_.MessageLine(0), "From: amy : " + std::string(MailStore::kMaxMessage, 'x'));
}

TEST_F(StorageMailStore, SavedStoreLoadsBack) {
    store_.Append("bob", "amy", "2 = 3");
    store_.Append("{weird}", "amy", "back\\slash \xe9\xff");
    WriteFileAtomic(dir_ / "mail.dat", WriteRtfParagraphs(store_.Lines()));
    EXPECT_TRUE(ReadFileBytes(dir_ / "mail.dat").starts_with("{\\rtf"));
    MailStore loaded;
    int loadChanges = 0;
    loaded.onChange = [&] { ++loadChanges; };
    loaded.Load(dir_ / "mail.dat");
    EXPECT_EQ(loaded.Lines(), store_.Lines());
    EXPECT_EQ(loadChanges, 0);
}

TEST_F(StorageMailStore, PlainTextFileLoadsLineByLine) {
    WriteFileAtomic(dir_ / "mail.dat", "bob\r\nFrom: amy : hi\r\nBob\r\nFrom: carl : {hello}\r\n");
    store_.Load(dir_ / "mail.dat");
    EXPECT_EQ(store_.Lines(), (Lines{"bob", "From: amy : hi", "Bob", "From: carl : {hello}"}));
    EXPECT_EQ(store_.CountFor("bob"), 1);
}

TEST_F(StorageMailStore, MissingFileFailsAndKeepsTheStore) {
    store_.Append("bob", "amy", "kept");
    EXPECT_THROW(store_.Load(dir_ / "absent.dat"), FileError);
    EXPECT_EQ(store_.CountFor("bob"), 1);
}

}  // namespace
}  // namespace qm
