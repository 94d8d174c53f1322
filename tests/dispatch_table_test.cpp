#include <gtest/gtest.h>

#include "commands/dispatch_table.h"

namespace qm {
namespace {

void Handler(ChatState&, TTcpSrvClient&, std::string_view) {}

struct MatchCase {
    CommandRow row;
    std::string line;
    bool matches;
};

TEST(DispatchTable, RowMatching) {
    const std::vector<MatchCase> cases = {
        {{"/pass", Match::kFirstN, Case::kExact, 6, Handler}, "/password x", true},
        {{"/pass", Match::kFirstN, Case::kExact, 6, Handler}, "/PASS x", false},
        {{"/admin", Match::kFirstN, Case::kIgnored, 7, Handler}, "/ADMIN x", true},
        {{"/op", Match::kWholeLine, Case::kIgnored, 0, Handler}, "/OP", true},
        {{"/op", Match::kWholeLine, Case::kIgnored, 0, Handler}, "/op now", false},
        {{"/m", Match::kFirstN, Case::kIgnored, 0, Handler}, "/", false},
    };
    for (const auto& c : cases) EXPECT_EQ(RowMatches(c.row, c.line), c.matches) << c.row.text << " / " << c.line;
}

struct ShadowCase {
    CommandRow earlier, later;
    bool shadowed;
};

TEST(DispatchTable, ShadowedRowsAreDetected) {
    const std::vector<ShadowCase> cases = {
        {{"/k", Match::kFirstN, Case::kIgnored, 0, Handler}, {"/kill", Match::kFirstN, Case::kIgnored, 0, Handler}, true},
        {{"/kill", Match::kFirstN, Case::kIgnored, 0, Handler}, {"/k", Match::kFirstN, Case::kIgnored, 0, Handler}, false},
        {{"/d", Match::kFirstN, Case::kIgnored, 0, Handler}, {"/del", Match::kFirstN, Case::kExact, 0, Handler}, true},
        {{"/del", Match::kFirstN, Case::kExact, 0, Handler}, {"/d", Match::kFirstN, Case::kIgnored, 0, Handler}, false},
        {{"/pass", Match::kFirstN, Case::kExact, 0, Handler}, {"/PASSWORD", Match::kFirstN, Case::kIgnored, 0, Handler}, false},
        {{"/who", Match::kWholeLine, Case::kIgnored, 0, Handler}, {"/whois", Match::kFirstN, Case::kIgnored, 0, Handler}, false},
        {{"/o", Match::kFirstN, Case::kIgnored, 0, Handler}, {"/op", Match::kWholeLine, Case::kIgnored, 0, Handler}, true},
        {{"/help", Match::kWholeLine, Case::kIgnored, 0, Handler}, {"/help channels", Match::kWholeLine, Case::kIgnored, 0, Handler}, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Shadows(c.earlier, c.later), c.shadowed) << c.earlier.text << " above " << c.later.text;
}

TEST(DispatchTable, FirstMatchingRowWins) {
    const CommandRow* me = FindCommand("/meow");
    ASSERT_NE(me, nullptr);
    EXPECT_EQ(me->text, "/me");
    EXPECT_EQ(CommandArgument(*me, "/meow"), "w");
    EXPECT_EQ(CommandArgument(*me, "/me"), "");
    EXPECT_EQ(FindCommand("/xyz"), nullptr);
    EXPECT_EQ(FindCommand("/PASS x"), nullptr);
}

TEST(DispatchTable, OverlappingCommandsResolveInTableOrder) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"/kill bob = x", "/kill"}, {"/k bob", "/k"},        {"/op", "/op"},
        {"/OP", "/op"},             {"/op now", "/o"},       {"/on hi", "/on"},
        {"/names", "/names"},       {"/namesx", "/n"},       {"/n bob", "/n"},
        {"/whois bob", "/whois"},   {"/who", "/who"},        {"/deop bob", "/deop"},
        {"/del 1", "/del"},         {"/DEL 1", "/d"},        {"/d bob", "/d"},
        {"/join x", "/join"},       {"/j x", "/j"},          {"/ver", "/ver"},
        {"/version", "/v"},         {"/move e4", "/move"},   {"/mexample", "/me"},
        {"/m bob = hi", "/m"},      {"/password", "/pass"},  {"/help", "/help"},
        {"/help channels", "/help channels"},                {"/HELP REGISTRATION", "/help registration"},
    };
    for (const auto& [line, command] : cases) {
        const CommandRow* row = FindCommand(line);
        ASSERT_NE(row, nullptr) << line;
        EXPECT_EQ(row->text, command) << line;
    }
    // Whole-line commands take nothing longer.
    EXPECT_EQ(FindCommand("/whom"), nullptr);
    EXPECT_EQ(FindCommand("/helpme"), nullptr);
}

}  // namespace
}  // namespace qm
