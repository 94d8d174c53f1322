// The pure pieces of the IRC client: line tokenizer, CTCP split, hostmask
// matching and the cutting of long texts.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "irc/ctcp.h"
#include "irc/hostmask.h"
#include "irc/irc_message.h"
#include "irc/text_split.h"

namespace qm {
namespace {

struct TokenCase {
    std::string line;
    std::string nick, address, command, rest;
    std::vector<std::string> params;  // slots 2 onwards; the rest must be empty
};

TEST(IrcMessageParse, SplitsSenderCommandAndParameters) {
    const std::string long513(513, 'x');
    const std::string long600(600, 'y');
    const std::vector<TokenCase> cases = {
        {":bob!b@h.net PRIVMSG #c :hello there", "bob", "b@h.net", "PRIVMSG", "#c :hello there", {"#c", "hello there"}},
        {":irc.test 001 me :Welcome", "", "irc.test", "001", "me :Welcome", {"me", "Welcome"}},
        {"PING :irc.test", "", "", "PING", ":irc.test", {"irc.test"}},
        {"PING irc.test", "", "", "PING", "irc.test", {"irc.test"}},
        {":bob!b@h PRIVMSG #c :", "bob", "b@h", "PRIVMSG", "#c :", {"#c", ""}},
        {":bob!b@h PRIVMSG #c ::-)", "bob", "b@h", "PRIVMSG", "#c ::-)", {"#c", ":-)"}},
        {":s MODE #c +kl key 10", "", "s", "MODE", "#c +kl key 10", {"#c", "+kl", "key", "10"}},
        {"QUIT", "", "", "QUIT", "", {}},
        // A middle parameter that ends the line is cut to 512 bytes; a trailing
        // one is not.
        {"X " + long513, "", "", "X", long513, {long513.substr(0, 512)}},
        {"X a " + long513 + " b", "", "", "X", "a " + long513 + " b", {"a", long513, "b"}},
        {"X :" + long600, "", "", "X", ":" + long600, {long600}},
        {":" + std::string(10, 'n') + "!" + long600 + " X", std::string(10, 'n'), long600.substr(0, 512), "X", "", {}},
        // Beyond 13 parameters the last slot takes the rest of the line.
        {"X 1 2 3 4 5 6 7 8 9 10 11 12 13 14 :15 16", "", "", "X", "1 2 3 4 5 6 7 8 9 10 11 12 13 14 :15 16",
         {"1", "2", "3", "4", "5", "6", "7", "8", "9", "10", "11", "12", "13 14 :15 16"}},
        {"X 1 2 3 4 5 6 7 8 9 10 11 12 :13 14", "", "", "X", "1 2 3 4 5 6 7 8 9 10 11 12 :13 14",
         {"1", "2", "3", "4", "5", "6", "7", "8", "9", "10", "11", "12", "13 14"}},
    };
    for (const TokenCase& c : cases) {
        SCOPED_TRACE(c.line.substr(0, 80));
        const IrcMessage msg = ParseIrcLine(c.line);
        EXPECT_EQ(msg.senderNick, c.nick);
        EXPECT_EQ(msg.senderAddress, c.address);
        EXPECT_EQ(msg.command, c.command);
        EXPECT_EQ(msg.tokens[1], c.command);
        EXPECT_EQ(msg.rest, c.rest);
        for (std::size_t slot = 2; slot < IrcMessage::kSlots; ++slot) {
            const std::string expected = slot - 2 < c.params.size() ? c.params[slot - 2] : "";
            EXPECT_EQ(msg.tokens[slot], expected) << "slot " << slot;
        }
    }
}

TEST(IrcMessageParse, PrefixIsSlotZero) {
    EXPECT_EQ(ParseIrcLine(":bob!b@h JOIN #c").tokens[0], "bob!b@h");
    EXPECT_EQ(ParseIrcLine("JOIN #c").tokens[0], "");
    EXPECT_EQ(ParseIrcLine("JOIN #c").Param(20), "");
}

TEST(IrcMessageParse, NumericCommands) {
    EXPECT_TRUE(IsNumericCommand("001"));
    EXPECT_TRUE(IsNumericCommand("433"));
    EXPECT_FALSE(IsNumericCommand("4x3"));
    EXPECT_FALSE(IsNumericCommand(""));
    EXPECT_FALSE(IsNumericCommand("PRIVMSG"));
}

TEST(IrcCtcp, SplitsCommandAndArguments) {
    const struct {
        std::string text, command, args;
    } cases[] = {
        {"\x01VERSION\x01", "VERSION", ""},
        {"\x01PING 12345\x01", "PING", "12345"},
        {"\x01" "ACTION waves at everyone\x01", "ACTION", "waves at everyone"},
        {"\x01" "ACTION \x01", "ACTION", ""},
        {"\x01TIME", "TIME", ""},
        {"\x01", "", ""},
    };
    for (const auto& c : cases) {
        const CtcpText ctcp = SplitCtcp(c.text);
        EXPECT_EQ(ctcp.command, c.command) << c.text;
        EXPECT_EQ(ctcp.args, c.args) << c.text;
    }
    EXPECT_TRUE(IsCtcp("\x01X\x01"));
    EXPECT_FALSE(IsCtcp("hello"));
    EXPECT_FALSE(IsCtcp(""));
}

TEST(IrcHostmask, Wildcards) {
    const struct {
        std::string text, mask;
        bool matches;
    } cases[] = {
        {"abc", "a*", true},
        {"abc", "a?c", true},
        {"abc", "A*", false},
        {"abc", "*", true},
        {"", "*", true},
        {"", "", true},
        {"", "?", false},
        {"", "a", false},
        {"abc", "", false},
        {"abc", "abc", true},
        {"abc", "ab", false},
        {"abc", "abcd", false},
        {"abc", "*c", true},
        {"abc", "*b", false},
        {"abc", "?*?*?", true},
        {"ab", "?*?*?", false},
        {"nick!user@host.example.org", "*!*@*.example.org", true},
        {"nick!user@host.example.net", "*!*@*.example.org", false},
        {"aXbXc", "a*b*c", true},
    };
    for (const auto& c : cases)
        EXPECT_EQ(MatchHostmask(c.text, c.mask), c.matches) << c.text << " / " << c.mask;
}

TEST(IrcHostmask, HostileMaskFinishes) {
    const std::string text(20000, 'a');
    EXPECT_FALSE(MatchHostmask(text, "*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*b"));
    EXPECT_TRUE(MatchHostmask(text + "b", "*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*b"));
}

// Joins the pieces and checks each one's size.
std::string Rejoin(const std::vector<std::string_view>& pieces, std::size_t maxBytes) {
    std::string joined;
    for (std::string_view piece : pieces) {
        EXPECT_LE(piece.size(), maxBytes);
        joined += piece;
    }
    return joined;
}

TEST(IrcTextSplit, CutsBetweenCharacters) {
    const std::string euro = "\xE2\x82\xAC";  // three bytes
    const std::string text = "ab" + euro + euro + "c";
    const auto pieces = SplitAtCharacters(text, 4);
    EXPECT_EQ(pieces, (std::vector<std::string_view>{"ab", euro, euro + "c"}));
    EXPECT_EQ(Rejoin(pieces, 4), text);
}

TEST(IrcTextSplit, InvalidBytesCountAsCharacters) {
    // A lead byte without its continuation bytes, and stray continuation bytes.
    const std::string text = "\xE2\x82" "a\x80\x80\xFF";
    const auto pieces = SplitAtCharacters(text, 2);
    EXPECT_EQ(pieces.size(), 3u);
    EXPECT_EQ(Rejoin(pieces, 2), text);
}

TEST(IrcTextSplit, ShortAndEmptyTexts) {
    EXPECT_EQ(SplitAtCharacters("", 10), std::vector<std::string_view>{""});
    EXPECT_EQ(SplitAtCharacters("hello", 10), std::vector<std::string_view>{"hello"});
    EXPECT_EQ(SplitAtCharacters("hello", 5), std::vector<std::string_view>{"hello"});
    // A character wider than the room still goes, alone.
    EXPECT_EQ(SplitAtCharacters("\xE2\x82\xAC", 1), std::vector<std::string_view>{"\xE2\x82\xAC"});
}

}  // namespace
}  // namespace qm
