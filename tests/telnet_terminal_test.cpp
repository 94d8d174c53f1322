#include "terminal/line_editor.h"
#include "terminal/telnet_codec.h"

#include <cstddef>  // libtelnet.h uses size_t without including it

#include <gtest/gtest.h>
#include <libtelnet.h>

#include <optional>
#include <string>
#include <vector>

namespace qm {
namespace {

using namespace std::string_literals;

// The telnet way's terminal as a connection runs it: the codec in front of
// the line editor, and the echo put in telnet's wire form.
class TelnetTerminal {
public:
    void Receive(std::string_view bytes, std::string& toPeer) {
        std::string data;
        codec_.Receive(bytes, data, toPeer);
        editor_.Receive(data);
    }
    std::optional<std::string> NextLine(bool echo, std::string& toPeer) {
        std::string text;
        auto line = editor_.NextLine(echo, text);
        TelnetCodec::AppendEscaped(text, toPeer);
        return line;
    }
    bool HasPendingData() const { return editor_.HasPendingData(); }
    std::optional<std::string> TakePartialLine() { return editor_.TakePartialLine(); }
    void SetServerEcho(bool on, std::string& toPeer) { codec_.SetServerEcho(on, toPeer); }

private:
    TelnetCodec codec_;
    LineEditor editor_;
};

std::string Cmd(unsigned char command) {
    return {static_cast<char>(TELNET_IAC), static_cast<char>(command)};
}

std::string Cmd(unsigned char command, unsigned char option) {
    return Cmd(command) + static_cast<char>(option);
}

struct Outcome {
    std::vector<std::string> lines;
    std::string toPeer;  // telnet replies and echo, in the order they were produced
    std::optional<std::string> partial;
};

// Feeds the chunks one read at a time and takes out every complete line
// before the next read, the way a connection does.
Outcome Feed(const std::vector<std::string>& chunks, bool echo) {
    TelnetTerminal input;
    Outcome out;
    for (const auto& chunk : chunks) {
        input.Receive(chunk, out.toPeer);
        while (auto line = input.NextLine(echo, out.toPeer)) out.lines.push_back(*line);
        EXPECT_FALSE(input.HasPendingData());
    }
    out.partial = input.TakePartialLine();
    return out;
}

// The same bytes cut into two reads at every position, and one byte a read.
std::vector<std::vector<std::string>> Splits(const std::string& bytes) {
    std::vector<std::vector<std::string>> splits;
    for (std::size_t i = 1; i < bytes.size(); ++i) splits.push_back({bytes.substr(0, i), bytes.substr(i)});
    std::vector<std::string> single;
    for (char ch : bytes) single.emplace_back(1, ch);
    splits.push_back(single);
    return splits;
}

struct EditCase {
    const char* name;
    std::string input;
    std::vector<std::string> lines;
    std::string echo;
    std::optional<std::string> partial;
};

const std::vector<EditCase>& EditCases() {
    static const std::vector<EditCase> cases = {
        {"backspace erases the last character", "abc\bd\r\n", {"abd"}, "abc\b \bd\r\n", {}},
        {"backspace on an empty line does nothing", "\b\bx\r\n", {"x"}, "x\r\n", {}},
        {"DEL is a backspace", "ab\x7f\x7f\x7f" "c\n", {"c"}, "ab\b \b\b \bc\r\n", {}},
        {"tab fills to the next multiple of eight", "abc\tx\r\n", {"abc     x"}, "abc     x\r\n", {}},
        {"tab at a multiple of eight adds eight", "12345678\t|", {}, "12345678        |",
         "12345678        |"},
        {"two lines in one read", "a\r\nb\r\n", {"a", "b"}, "a\r\nb\r\n", {}},
        {"CR NUL ends a line", "a\r\0b\r\0"s, {"a", "b"}, "a\r\nb\r\n", {}},
        {"bare LF ends a line", "a\nb\n", {"a", "b"}, "a\r\nb\r\n", {}},
        {"bare CR ends a line", "a\rb", {"a"}, "a\r\nb", "b"},
        {"CR CR LF is an empty second line", "a\r\r\n", {"a", ""}, "a\r\n\r\n", {}},
        {"NUL alone is ignored", "a\0b\r\n"s, {"ab"}, "ab\r\n", {}},
        {"other control bytes are kept", "a\x01" "b\r\n", {"a\x01" "b"}, "a\x01" "b\r\n", {}},
        {"arrow keys are dropped", "a\x1b[Ab\x1bOBc\x1b[1;5Dd\r\n", {"abcd"}, "abcd\r\n", {}},
        {"ESC drops the printable byte after it", "a\x1bxb\x1b\x1b[Dc\r\n", {"abc"}, "abc\r\n", {}},
        {"ESC before Enter keeps the line end", "a\x1b\r\n", {"a"}, "a\r\n", {}},
        {"Enter cuts an escape sequence short", "a\x1b[1\rb", {"a"}, "a\r\nb", "b"},
        {"IAC IAC is the data byte 255", "a\xff\xff" "b\r\n", {"a\xff" "b"}, "a\xff\xff" "b\r\n", {}},
        {"telnet EC erases", "ab" + Cmd(TELNET_EC) + "c\r\n", {"ac"}, "ab\b \bc\r\n", {}},
        {"telnet commands are removed",
         "a" + Cmd(TELNET_NOP) + "b" + Cmd(TELNET_GA) + "c" + Cmd(TELNET_IP) + "d" + Cmd(TELNET_EL) + "\r\n",
         {"abcd"}, "abcd\r\n", {}},
        {"subnegotiations are removed",
         "a" + Cmd(TELNET_SB, TELNET_TELOPT_NAWS) + "\0\x50\0\x18"s + Cmd(TELNET_SE) + "b" +
             Cmd(TELNET_SB, TELNET_TELOPT_TTYPE) + "\0x\xff\xffy"s + Cmd(TELNET_SE) + "\r\n",
         {"ab"}, "ab\r\n", {}},
        {"a line without a line end is kept", "bye", {}, "bye", "bye"},
        {"an erased line is no partial line", "ab\b\b", {}, "ab\b \b\b \b", {}},
    };
    return cases;
}

TEST(TelnetTerminalEditing, LinesEchoAndPartialLine) {
    for (const auto& c : EditCases()) {
        SCOPED_TRACE(c.name);
        const Outcome out = Feed({c.input}, true);
        EXPECT_EQ(out.lines, c.lines);
        EXPECT_EQ(out.toPeer, c.echo);
        EXPECT_EQ(out.partial, c.partial);
    }
}

TEST(TelnetTerminalEditing, EchoOffSendsNothing) {
    for (const auto& c : EditCases()) {
        SCOPED_TRACE(c.name);
        const Outcome out = Feed({c.input}, false);
        EXPECT_EQ(out.lines, c.lines);
        EXPECT_EQ(out.toPeer, "");
        EXPECT_EQ(out.partial, c.partial);
    }
}

TEST(TelnetTerminalEditing, ReadBoundariesDoNotMatter) {
    for (const auto& c : EditCases()) {
        SCOPED_TRACE(c.name);
        for (const auto& chunks : Splits(c.input)) {
            SCOPED_TRACE("first read " + std::to_string(chunks.front().size()) + " of " +
                         std::to_string(chunks.size()) + " reads");
            const Outcome out = Feed(chunks, true);
            EXPECT_EQ(out.lines, c.lines);
            EXPECT_EQ(out.toPeer, c.echo);
            EXPECT_EQ(out.partial, c.partial);
        }
    }
}

TEST(TelnetTerminalLines, CrAtTheEndOfAReadAndLfInTheNextAreOneLineEnd) {
    TelnetTerminal input;
    std::string toPeer;
    input.Receive("a\r", toPeer);
    EXPECT_EQ(input.NextLine(true, toPeer), "a");
    input.Receive("\nb", toPeer);
    EXPECT_EQ(input.NextLine(true, toPeer), std::nullopt);
    EXPECT_FALSE(input.HasPendingData());
    EXPECT_EQ(toPeer, "a\r\nb");
    EXPECT_EQ(input.TakePartialLine(), "b");
    EXPECT_EQ(input.TakePartialLine(), std::nullopt);
}

TEST(TelnetTerminalLines, EchoChangesBetweenLinesOfOneRead) {
    // A nickname and the password right after it, typed ahead in one packet.
    TelnetTerminal input;
    std::string toPeer;
    input.Receive("nick\r\nsecret\r\nhello\r\n", toPeer);
    EXPECT_EQ(toPeer, "");
    EXPECT_TRUE(input.HasPendingData());

    EXPECT_EQ(input.NextLine(true, toPeer), "nick");
    EXPECT_EQ(toPeer, "nick\r\n");
    EXPECT_TRUE(input.HasPendingData());

    EXPECT_EQ(input.NextLine(false, toPeer), "secret");
    EXPECT_EQ(toPeer, "nick\r\n");

    EXPECT_EQ(input.NextLine(true, toPeer), "hello");
    EXPECT_EQ(toPeer, "nick\r\nhello\r\n");
    EXPECT_FALSE(input.HasPendingData());
    EXPECT_EQ(input.NextLine(true, toPeer), std::nullopt);
}

TEST(TelnetTerminalLimits, LongLineKeepsItsFirstBytes) {
    const std::size_t cap = LineEditor::kMaxPartialLine;
    const std::string full(cap, 'x');
    const std::string almost(cap - 3, 'x');
    struct Case {
        const char* name;
        std::vector<std::string> chunks;
        std::vector<std::string> lines;
        std::string echo;  // bytes past the limit are not echoed
        std::optional<std::string> partial;
    };
    const std::vector<Case> cases = {
        {"without a line end", {std::string(20 * 1024, 'x')}, {}, full, full},
        {"in many reads", std::vector<std::string>(20, std::string(1024, 'x')), {}, full, full},
        {"with a line end, next line intact", {std::string(20 * 1024, 'x') + "\r\nok\r\n"}, {full, "ok"},
         full + "\r\nok\r\n", {}},
        {"tab stops at the limit", {almost + "\t\tz"}, {}, almost + "   ", almost + "   "},
        {"backspace at the limit makes room", {std::string(cap + 5, 'x') + "\by"}, {}, full + "\b \by",
         full.substr(1) + "y"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Outcome out = Feed(c.chunks, true);
        EXPECT_EQ(out.lines, c.lines);
        EXPECT_EQ(out.toPeer, c.echo);
        EXPECT_EQ(out.partial, c.partial);
    }
}

struct TelnetCase {
    const char* name;
    std::string input;
    std::string reply;
    std::vector<std::string> lines;
};

const std::vector<TelnetCase>& TelnetCases() {
    static const std::vector<TelnetCase> cases = {
        {"answers to the greeting need no reply",
         Cmd(TELNET_DO, TELNET_TELOPT_ECHO) + Cmd(TELNET_DO, TELNET_TELOPT_SGA), "", {}},
        {"DO TIMING-MARK is refused", Cmd(TELNET_DO, TELNET_TELOPT_TM), Cmd(TELNET_WONT, TELNET_TELOPT_TM), {}},
        {"Ctrl-C in telnet", Cmd(TELNET_IP) + Cmd(TELNET_DO, TELNET_TELOPT_TM) + "next\r\n",
         Cmd(TELNET_WONT, TELNET_TELOPT_TM), {"next"}},
        {"WILL NAWS is refused", Cmd(TELNET_WILL, TELNET_TELOPT_NAWS), Cmd(TELNET_DONT, TELNET_TELOPT_NAWS), {}},
        {"WILL TTYPE is refused", Cmd(TELNET_WILL, TELNET_TELOPT_TTYPE), Cmd(TELNET_DONT, TELNET_TELOPT_TTYPE), {}},
        {"DO LINEMODE is refused", Cmd(TELNET_DO, TELNET_TELOPT_LINEMODE),
         Cmd(TELNET_WONT, TELNET_TELOPT_LINEMODE), {}},
        {"client echo is refused", Cmd(TELNET_WILL, TELNET_TELOPT_ECHO), Cmd(TELNET_DONT, TELNET_TELOPT_ECHO), {}},
        {"client SGA is accepted", Cmd(TELNET_WILL, TELNET_TELOPT_SGA), Cmd(TELNET_DO, TELNET_TELOPT_SGA), {}},
        {"client refusing our echo needs no reply", Cmd(TELNET_DONT, TELNET_TELOPT_ECHO), "", {}},
        {"WONT and DONT for options that are off", Cmd(TELNET_WONT, TELNET_TELOPT_NAWS) + Cmd(TELNET_DONT, TELNET_TELOPT_TM),
         "", {}},
        {"opening burst of a terminal program",
         Cmd(TELNET_WILL, TELNET_TELOPT_NAWS) + Cmd(TELNET_WILL, TELNET_TELOPT_TSPEED) +
             Cmd(TELNET_WILL, TELNET_TELOPT_TTYPE) + Cmd(TELNET_WILL, TELNET_TELOPT_NEW_ENVIRON) +
             Cmd(TELNET_DO, TELNET_TELOPT_ECHO) + Cmd(TELNET_WILL, TELNET_TELOPT_LINEMODE) +
             Cmd(TELNET_DO, TELNET_TELOPT_SGA) + Cmd(TELNET_WILL, TELNET_TELOPT_SGA) + "nick\r\n",
         Cmd(TELNET_DONT, TELNET_TELOPT_NAWS) + Cmd(TELNET_DONT, TELNET_TELOPT_TSPEED) +
             Cmd(TELNET_DONT, TELNET_TELOPT_TTYPE) + Cmd(TELNET_DONT, TELNET_TELOPT_NEW_ENVIRON) +
             Cmd(TELNET_DONT, TELNET_TELOPT_LINEMODE) + Cmd(TELNET_DO, TELNET_TELOPT_SGA),
         {"nick"}},
        {"are you there", "a" + Cmd(TELNET_AYT) + "b\r\n", "\r\n[Yes]\r\n", {"ab"}},
        {"subnegotiation cut short by a command",
         "a" + Cmd(TELNET_SB, TELNET_TELOPT_TTYPE) + "x" + Cmd(TELNET_WILL, TELNET_TELOPT_NAWS) + "b\r\n",
         Cmd(TELNET_DONT, TELNET_TELOPT_NAWS), {"ab"}},
        {"option byte equal to SB", Cmd(TELNET_WILL, TELNET_SB) + "a\r\n", Cmd(TELNET_DONT, TELNET_SB), {"a"}},
    };
    return cases;
}

TEST(TelnetTerminalTelnet, CommandsAreAnswered) {
    for (const auto& c : TelnetCases()) {
        SCOPED_TRACE(c.name);
        std::vector<std::vector<std::string>> feeds = Splits(c.input);
        feeds.push_back({c.input});
        for (const auto& chunks : feeds) {
            const Outcome out = Feed(chunks, false);
            EXPECT_EQ(out.toPeer, c.reply);
            EXPECT_EQ(out.lines, c.lines);
            EXPECT_EQ(out.partial, std::nullopt);
        }
    }
}

TEST(TelnetTerminalTelnet, GreetingOffersEchoAndSuppressGoAhead) {
    EXPECT_EQ(TelnetCodec::Greeting(),
              Cmd(TELNET_WILL, TELNET_TELOPT_ECHO) + Cmd(TELNET_WILL, TELNET_TELOPT_SGA));
}

TEST(TelnetTerminalTelnet, OversizedSubnegotiationIsDroppedWhole) {
    std::string junk;
    for (int i = 0; i < 25 * 1024; ++i) junk += "ab\xff\xff";
    const std::string sb = Cmd(TELNET_SB, TELNET_TELOPT_NEW_ENVIRON) + junk + Cmd(TELNET_SE);
    std::vector<std::string> chunks;
    for (std::size_t i = 0; i < sb.size(); i += 4000) chunks.push_back(sb.substr(i, 4000));
    chunks.push_back("hi\r\n" + Cmd(TELNET_DO, TELNET_TELOPT_TM));

    const Outcome out = Feed(chunks, true);
    EXPECT_EQ(out.lines, std::vector<std::string>{"hi"});
    // Replies go out while reading, the echo when the line is edited.
    EXPECT_EQ(out.toPeer, Cmd(TELNET_WONT, TELNET_TELOPT_TM) + "hi\r\n");
    EXPECT_EQ(out.partial, std::nullopt);
}

TEST(TelnetTerminalEcho, ServerEchoIsAnnouncedOnlyOnChange) {
    struct Step {
        const char* name;
        std::optional<bool> setEcho;  // or else receive `bytes`
        std::string bytes;
        std::string expected;
    };
    const std::string doEcho = Cmd(TELNET_DO, TELNET_TELOPT_ECHO);
    const std::string dontEcho = Cmd(TELNET_DONT, TELNET_TELOPT_ECHO);
    const std::string willEcho = Cmd(TELNET_WILL, TELNET_TELOPT_ECHO);
    const std::string wontEcho = Cmd(TELNET_WONT, TELNET_TELOPT_ECHO);
    const std::vector<Step> steps = {
        {"client accepts the greeting", {}, doEcho, ""},
        {"echo stays on", true, "", ""},
        {"echo off", false, "", wontEcho},
        {"echo off again", false, "", ""},
        {"client acknowledges", {}, dontEcho, ""},
        {"client asks for echo while off", {}, doEcho, wontEcho},
        {"echo on", true, "", willEcho},
        {"echo on again", true, "", ""},
        {"client acknowledges on", {}, doEcho, ""},
        {"echo off before an answer", false, "", wontEcho},
        {"echo on is queued until the answer", true, "", ""},
        {"answer to off brings the queued on", {}, dontEcho, willEcho},
        {"answer to on", {}, doEcho, ""},
    };
    TelnetTerminal input;
    for (const auto& step : steps) {
        SCOPED_TRACE(step.name);
        std::string toPeer;
        if (step.setEcho)
            input.SetServerEcho(*step.setEcho, toPeer);
        else
            input.Receive(step.bytes, toPeer);
        EXPECT_EQ(toPeer, step.expected);
        EXPECT_FALSE(input.HasPendingData());
    }
}

TEST(TelnetTerminalEscaping, DataByte255IsDoubled) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"", ""},
        {"plain", "plain"},
        {"\xff", "\xff\xff"},
        {"a\xff\xff" "b", "a\xff\xff\xff\xff" "b"},
    };
    for (const auto& [text, wire] : cases) {
        std::string out = "x";
        TelnetCodec::AppendEscaped(text, out);
        EXPECT_EQ(out, "x" + wire);
    }
}

}  // namespace
}  // namespace qm
