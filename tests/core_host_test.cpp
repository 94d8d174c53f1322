// The core host: the core on its own thread, reached only by posted actions.
#include <gtest/gtest.h>

#include <filesystem>
#include <algorithm>
#include <future>
#include <thread>

#include "chat_fixture.h"
#include "host/core_host.h"
#include "irc/irc_bridge.h"
#include "irc_test_client.h"
#include "ngircd_server.h"
#include "scratch_dir.h"
#include "storage/preferences.h"
#include "storage/text_file.h"

namespace qm::test {
namespace {

using namespace std::chrono_literals;

class CoreHostTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = MakeScratchDir("host");
        for (const auto& [name, text] : DefaultDataFiles()) WriteFileAtomic(dir_ / name, text);
        options_.server.dataDir = dir_;
        options_.server.preferencesFile = dir_ / "preferences";
        options_.server.listenAddresses = {"127.0.0.1"};
    }
    void TearDown() override {
        if (!HasFailure()) std::filesystem::remove_all(dir_);
    }
    // Runs `f` on the core's thread and waits for its result.
    template <typename T>
    T Ask(CoreHost& host, std::function<T(OperatorApi&)> f) {
        std::promise<T> answer;
        host.Post([&](OperatorApi& api) { answer.set_value(f(api)); });
        return answer.get_future().get();
    }

    std::filesystem::path dir_;
    CoreHostOptions options_;
    RecordingObserver observer_;
};

TEST_F(CoreHostTest, RunsTheCoreAndWritesTheFilesAtStop) {
    options_.startupNotes = {"Started by the test."};
    options_.adminPass = "sesame";
    CoreHost host(observer_, options_);
    std::promise<bool> started;
    host.Start([&](bool ok) { started.set_value(ok); });
    ASSERT_TRUE(started.get_future().get());
    EXPECT_TRUE(observer_.WaitForLog("Started by the test."));
    EXPECT_TRUE(observer_.WaitForLog("Databases ready."));

    const unsigned short port = Ask<unsigned short>(host, [](OperatorApi& api) { return api.ListeningPort(); });
    ASSERT_NE(port, 0);
    TestClient alice(port);
    alice.Login("alice");
    // The administrator password was handed over before start-up.
    alice.Send("/admin sesame\r\n");
    EXPECT_NE(alice.ReadUntil("Admin mode enabled."), "");
    EXPECT_EQ(Ask<std::vector<std::string>>(host, [](OperatorApi& api) { return api.OnlineUsers(); }),
              std::vector<std::string>{"alice"});
    alice.Send("/reg secret\r\n");
    alice.Collect();

    // Reload Settings goes through the host too.
    WriteFileAtomic(dir_ / "announce.txt", "New announcement.\r\n");
    host.ReloadSettings();
    EXPECT_TRUE(observer_.WaitForLog("Reloaded preferences."));
    TestClient bob(port);
    bob.ExpectBanner("New announcement.\r\n");

    EXPECT_TRUE(host.Stop(10s));
    EXPECT_NE(ReadFileBytes(dir_ / "user.dat").find("alice"), std::string::npos);
}

TEST_F(CoreHostTest, OnlineListChangesArriveWithTheirNicknames) {
    CoreHost host(observer_, options_);
    std::promise<bool> started;
    host.Start([&](bool ok) { started.set_value(ok); });
    ASSERT_TRUE(started.get_future().get());
    const unsigned short port = Ask<unsigned short>(host, [](OperatorApi& api) { return api.ListeningPort(); });
    {
        TestClient alice(port);
        alice.Login("alice");
        alice.Send("/n al\r\n");
        alice.Collect();
        TestClient waiting(port);
        waiting.ExpectBanner("Hello there.\r\n");
        // The list as a window builds it when shown: newest first, with those
        // still at the prompt.
        EXPECT_EQ(Ask<std::vector<std::string>>(host, [](OperatorApi& api) { return api.OnlineUsers(); }),
                  (std::vector<std::string>{"Choosing nickname...", "al"}));
    }
    ASSERT_TRUE(observer_.WaitForLog("Client disconnecting: al"));
    EXPECT_EQ(observer_.OnlineChanges(), (std::vector<std::string>{"+alice", "alice>al", "-al"}));
    EXPECT_TRUE(host.Stop(10s));
}

TEST_F(CoreHostTest, TheLinkIsDrivenThroughTheHostAndReportsItsStateAndLog) {
    QM_REQUIRE_NGIRCD();
    NgircdServer irc;
    ASSERT_TRUE(irc.Start());
    WriteFileAtomic(dir_ / "preferences",
                    "Server=127.0.0.1\nPort=" + std::to_string(irc.Port()) + "\nChannel=#quill\n");
    CoreHost host(observer_, options_);
    std::promise<bool> started;
    host.Start([&](bool ok) { started.set_value(ok); });
    ASSERT_TRUE(started.get_future().get());
    // Without startIrc the link waits for the operator, and joins only when told.
    host.PostLink([](IrcBridge& link) { link.Start(); });
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (observer_.LinkStates().size() < 3 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(10ms);
    EXPECT_EQ(observer_.LinkStates(),
              (std::vector<LinkState>{LinkState::kConnecting, LinkState::kLoggingOn, LinkState::kUp}));
    IrcTestClient ann(irc.Port());
    ASSERT_TRUE(ann.Register("ann"));
    ASSERT_TRUE(ann.Join("#quill"));
    host.PostLink([](IrcBridge& link) { link.Join(); });
    EXPECT_TRUE(ann.WaitFor(":Shadow-!~quillmoot@127.0.0.1 JOIN :#quill"));
    host.PostLink([](IrcBridge& link) { link.Enter("", "from the console"); });
    EXPECT_EQ(ann.ReadLine(), ":Shadow-!~quillmoot@127.0.0.1 PRIVMSG #quill :from the console");
    const auto log = observer_.LinkLog();
    std::string all;
    for (const auto& line : log) all += line + "\n";
    EXPECT_NE(std::find(log.begin(), log.end(), "*** Joined channel: #quill"), log.end()) << all;
    EXPECT_TRUE(host.Stop(10s));
}

TEST_F(CoreHostTest, LinkValuesAreStoredAtOnceAndReadBackOnReload) {
    WriteFileAtomic(dir_ / "preferences", "Main=Lobby\r\nChannel=#old\r\n");
    CoreHost host(observer_, options_);
    std::promise<bool> started;
    host.Start([&](bool ok) { started.set_value(ok); });
    ASSERT_TRUE(started.get_future().get());
    const auto linkValues = [&] {
        std::promise<IrcLinkSettings> values;
        host.PostLink([&](IrcBridge& link) { values.set_value(link.Settings()); });
        return values.get_future().get();
    };
    EXPECT_EQ(linkValues().Channel, "#old");

    // Each value is written at once, beside the console's own preferences,
    // and counts for the link at once; an empty text is a value too.
    host.SetLinkValue("Channel", "#new");
    host.SetLinkValue("Nick", "");
    host.SetLinkValue("BiDir", "1");
    const IrcLinkSettings now = linkValues();
    EXPECT_EQ(now.Channel, "#new");
    EXPECT_EQ(now.Nick, "");
    EXPECT_TRUE(now.ChannelSpy);
    const PreferenceStore stored(dir_ / "preferences");
    EXPECT_EQ(stored.Get("Channel"), std::optional<std::string>("#new"));
    EXPECT_EQ(stored.Get("Nick"), std::optional<std::string>(""));
    EXPECT_EQ(stored.Get("Main"), std::optional<std::string>("Lobby"));

    // An operator who edits the file and reloads gets the file's values.
    WriteFileAtomic(dir_ / "preferences", "Channel=#edited\r\n");
    host.ReloadSettings();
    EXPECT_TRUE(observer_.WaitForLog("Reloaded preferences."));
    EXPECT_EQ(linkValues().Channel, "#edited");
    EXPECT_TRUE(host.Stop(10s));
}

TEST_F(CoreHostTest, AFailedStartUpIsReported) {
    std::filesystem::remove(dir_ / "help.txt");
    CoreHost host(observer_, options_);
    std::promise<bool> started;
    host.Start([&](bool ok) { started.set_value(ok); });
    EXPECT_FALSE(started.get_future().get());
    EXPECT_EQ(observer_.Errors().size(), 1u);
}

}  // namespace
}  // namespace qm::test
