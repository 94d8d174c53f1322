#include <gtest/gtest.h>

#include <boost/asio/io_context.hpp>
#include <filesystem>
#include <string>
#include <vector>

#include "irc/irc_bridge.h"
#include "irc/irc_link_settings.h"
#include "irc/irc_text.h"
#include "scratch_dir.h"
#include "storage/preferences.h"

namespace qm::test {
namespace {

TEST(IrcText, FormattingAndControlBytesNeverReachATerminal) {
    const struct {
        std::string in, out;
    } cases[] = {
        {"plain text", "plain text"},
        {"\x02" "bold\x02 and \x1Ditalic\x1D \x1Funder\x1F \x16rev\x16 \x0Freset", "bold and italic under rev reset"},
        {"\x03" "4red\x03 \x03" "04,12both\x03 \x03" "1,2x", "red both x"},
        // A colour takes at most two digits each; the rest is text.
        {"\x03" "123", "3"},
        {"\x03" "12,345", "5"},
        // A comma not followed by a colour is text.
        {"\x03" "4,text", ",text"},
        {"\x03,5 comma first", ",5 comma first"},
        {"\x04" "FF00aaHex\x04", "Hex"},
        {"\x1B[2J\x1B]0;title\x07 esc", "[2J]0;title esc"},
        {std::string("nul\0byte", 8) + "\r\n\x7F", "nulbyte"},
        {"\x01" "ACTION waves\x01", "ACTION waves"},
        {"\xE4\xF6\xFC latin-1 and \xC3\xA9 utf-8 stay", "\xE4\xF6\xFC latin-1 and \xC3\xA9 utf-8 stay"},
        {"trailing colour \x03", "trailing colour "},
        // C1 controls as UTF-8 spells them, also when a code between their
        // two bytes is what separates them.
        {"a\xC2\x9B" "31mb\xC2\x85" "c", "a31mbc"},
        {"\xC2\x03" "4\x85" "x", "x"},
        {"\xC2" "A lone lead stays \x85\x9B", "\xC2" "A lone lead stays \x85\x9B"},
    };
    for (const auto& c : cases) EXPECT_EQ(StripIrcControls(c.in), c.out) << c.in;
}

// The link log goes to the operator's terminal and carries texts of the IRC
// server (reasons, error lines): no control character gets into it.
TEST(IrcLinkLog, ControlCharactersAreLeftOut) {
    boost::asio::io_context io;
    IrcBridge bridge(io);
    std::vector<std::string> lines;
    bridge.onLinkLog = [&](const std::string& line) { lines.push_back(line); };
    bridge.AddLinkLog("*** Closing link: b\x1B[5m\xC2\x9B" "ad\x07 caf\xE9");
    EXPECT_EQ(lines, std::vector<std::string>{"*** Closing link: b[5mad caf\xE9"});
}

TEST(IrcLinkSettings, StoredValuesOverrideDefaultsAndBadOnesAreIgnored) {
    const auto dir = MakeScratchDir("irc_settings");
    PreferenceStore store(dir / "preferences");
    const IrcLinkSettings defaults = ReadIrcLinkSettings(store);
    EXPECT_EQ(defaults.Nick, "Night-Wisp");
    EXPECT_EQ(defaults.AltNick, "Shadow-");
    EXPECT_EQ(defaults.UserID, "quillmoot");
    EXPECT_EQ(defaults.UserInfo, "Quillmoot IRC");
    EXPECT_EQ(defaults.Server, "");
    EXPECT_EQ(defaults.Port, "6667");
    EXPECT_EQ(defaults.Channel, "");
    EXPECT_FALSE(defaults.ChannelSpy);
    EXPECT_EQ(defaults.SendInterval, std::chrono::milliseconds(2000));

    store.Set("Nick", "Wisp");
    store.Set("Channel", "");
    store.Set("Server", "irc.example.org");
    store.Set("Port", "+6697");
    store.SetBool("BiDir", true);
    store.Set("TlsFingerprint", "AB:CD");
    store.Set("IrcSendInterval", "500");
    IrcLinkSettings s = ReadIrcLinkSettings(PreferenceStore(dir / "preferences"));
    EXPECT_EQ(s.Nick, "Wisp");
    EXPECT_EQ(s.Channel, "");
    EXPECT_EQ(s.Server, "irc.example.org");
    EXPECT_EQ(s.Port, "+6697");
    EXPECT_TRUE(s.ChannelSpy);
    EXPECT_EQ(s.TlsFingerprint, "AB:CD");
    EXPECT_EQ(s.SendInterval, std::chrono::milliseconds(500));

    for (const char* bad : {"fast", "-5", "10x", ""}) {
        store.Set("IrcSendInterval", bad);
        EXPECT_EQ(ReadIrcLinkSettings(store).SendInterval, std::chrono::milliseconds(2000)) << bad;
    }
    std::filesystem::remove_all(dir);
}

TEST(IrcLinkSettings, PlusBeforeThePortMeansTls) {
    const struct {
        std::string port, number;
        bool tls;
    } cases[] = {{"6667", "6667", false}, {"+6697", "6697", true}, {"+", "", true}, {"", "", false}};
    for (const auto& c : cases) {
        const IrcPort p = ParseIrcPort(c.port);
        EXPECT_EQ(p.number, c.number) << c.port;
        EXPECT_EQ(p.tls, c.tls) << c.port;
    }
}

}  // namespace
}  // namespace qm::test
