// The IRC link window through its widgets, driving the link to a real ngircd.
#include <QCheckBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>

#include "irc_test_client.h"
#include "ngircd_server.h"
#include "storage/preferences.h"
#include "window_fixture.h"

namespace qm::test {
namespace {

class IrcLinkWindowTest : public WindowFixture {
protected:
    console::IrcLinkWindow& Link() { return windows_->ircLink; }
    void Retype(const std::string& key, const QString& text) {
        QLineEdit* edit = Link().Edit(key);
        edit->selectAll();
        QTest::keyClick(edit, Qt::Key_Delete);
        QTest::keyClicks(edit, text);
    }
    bool LogHas(const QString& line) { return Link().Log()->toPlainText().split('\n').contains(line); }
};

TEST_F(IrcLinkWindowTest, ShowsTheDefaultsAndTheReadyLines) {
    Start();
    Open(Link());
    const std::pair<std::string, QString> defaults[] = {
        {"Nick", "Night-Wisp"}, {"AltNick", "Shadow-"}, {"UserID", "quillmoot"}, {"UserInfo", "Quillmoot IRC"},
        {"Server", ""},         {"Port", "6667"},       {"Channel", ""},
    };
    for (const auto& [key, text] : defaults) EXPECT_EQ(Link().Edit(key)->text(), text) << key;
    EXPECT_FALSE(Link().ChannelSpy()->isChecked());
    EXPECT_EQ(Link().Log()->toPlainText(), "*** Raw IRC Window\n*** Ready to connect");
}

TEST_F(IrcLinkWindowTest, DrivesTheLinkAndKeepsItsValuesOverARestart) {
    QM_REQUIRE_NGIRCD();
    NgircdServer irc;
    ASSERT_TRUE(irc.Start());
    Start();
    Open(Link());
    Retype("Nick", "Quill");
    Retype("Server", "127.0.0.1");
    Retype("Port", QString::number(irc.Port()));
    Retype("Channel", "#quill");
    Retype("UserInfo", "");  // an empty text is a value too
    QTest::keyClick(Link().ChannelSpy(), Qt::Key_Space);
    QTest::keyClick(Link().ChannelSpy(), Qt::Key_Space);

    LinkState state = LinkState::kDown;
    QObject::connect(events_.get(), &console::CoreEvents::linkStateChanged, [&](LinkState now) { state = now; });
    QTest::mouseClick(Link().StartButton(), Qt::LeftButton);
    EXPECT_TRUE(WaitFor([&] { return LogHas("*** Connected to IRC server... logging in...."); }))
        << Link().Log()->toPlainText().toStdString();
    // Join is pressed once the IRC server has taken the registration.
    ASSERT_TRUE(WaitFor([&] { return state == LinkState::kUp; }));
    // A second Start while the link is up leaves no line.
    const int lines = Link().Log()->blockCount();
    QTest::mouseClick(Link().StartButton(), Qt::LeftButton);
    Settle();
    EXPECT_EQ(Link().Log()->blockCount(), lines);

    IrcTestClient ann(irc.Port());
    ASSERT_TRUE(ann.Register("ann"));
    ASSERT_TRUE(ann.Join("#quill"));
    QTest::mouseClick(Link().JoinButton(), Qt::LeftButton);
    EXPECT_TRUE(WaitFor([&] { return LogHas("*** Joined channel: #quill"); }));
    EXPECT_TRUE(ann.WaitFor("JOIN :#quill"));

    // Enter sends the raw line first, then the line to the channel.
    QTest::keyClicks(Link().ToChannel(), "hello from the console");
    QTest::keyClicks(Link().Raw(), "PRIVMSG ann :raw hello");
    QTest::keyClick(Link().Raw(), Qt::Key_Return);
    EXPECT_EQ(Link().Raw()->text(), "");
    EXPECT_EQ(Link().ToChannel()->text(), "");
    EXPECT_NE(ann.WaitFor("PRIVMSG ann :raw hello"), std::nullopt);
    EXPECT_NE(ann.WaitFor("PRIVMSG #quill :hello from the console"), std::nullopt);

    QTest::mouseClick(Link().StopButton(), Qt::LeftButton);
    EXPECT_TRUE(WaitFor([&] { return LogHas("*** Disconnected."); }));

    Restart();
    Open(Link());
    EXPECT_EQ(Link().Edit("Nick")->text(), "Quill");
    EXPECT_EQ(Link().Edit("Server")->text(), "127.0.0.1");
    EXPECT_EQ(Link().Edit("Channel")->text(), "#quill");
    EXPECT_EQ(Link().Edit("UserInfo")->text(), "");
    EXPECT_FALSE(Link().ChannelSpy()->isChecked());
    // The daemon reads the same store.
    const PreferenceStore stored(dir_ / "preferences");
    EXPECT_EQ(stored.Get("Port"), std::optional<std::string>(std::to_string(irc.Port())));
    EXPECT_EQ(stored.Get("BiDir"), std::optional<std::string>("false"));
}

}  // namespace
}  // namespace qm::test
