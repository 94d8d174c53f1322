// The bans and announcements editors through their widgets.
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>

#include "window_fixture.h"

namespace qm::test {
namespace {

const std::string kRefused = kGreeting + "You are banned.\r\nNickname: \r\n";

class BansWindowTest : public WindowFixture {
protected:
    console::BansWindow& Bans() { return windows_->bans; }
    QStringList Rows() {
        QStringList rows;
        for (int i = 0; i < Bans().List()->count(); ++i) rows << Bans().List()->item(i)->text();
        return rows;
    }
    void Add(const QString& entry) {
        QTest::keyClicks(Bans().Entry(), entry);
        EXPECT_TRUE(Bans().AddButton()->isEnabled());
        QTest::mouseClick(Bans().AddButton(), Qt::LeftButton);
        Settle();
    }
};

TEST_F(BansWindowTest, AddBansTheNextConnectionAndIsWrittenAsTyped) {
    Start();
    Open(Bans());
    EXPECT_EQ(Bans().windowTitle(), "Bans");
    EXPECT_FALSE(Bans().AddButton()->isEnabled());
    EXPECT_FALSE(Bans().UnbanButton()->isEnabled());
    Add("127.0.0.*");
    EXPECT_EQ(Bans().Entry()->text(), "");
    EXPECT_FALSE(Bans().AddButton()->isEnabled());
    for (const char* address : {"127.0.0.1", "127.0.0.77"}) {
        TestClient refused(port_, address);
        EXPECT_EQ(refused.ReadToClose(), kRefused) << address;
    }
    Add("10.0.0.1");
    Add("10.0.0.1");
    EXPECT_EQ(Rows(), (QStringList{"127.0.0.*", "10.0.0.1", "10.0.0.1"}));
    EXPECT_EQ(File("bans.txt"), "127.0.0.*\r\n10.0.0.1\r\n10.0.0.1\r\n");
    // Typing and deleting the text enables and disables Add.
    QTest::keyClick(Bans().Entry(), Qt::Key_X);
    EXPECT_TRUE(Bans().AddButton()->isEnabled());
    QTest::keyClick(Bans().Entry(), Qt::Key_Backspace);
    EXPECT_FALSE(Bans().AddButton()->isEnabled());
}

TEST_F(BansWindowTest, UnbanOfTheOnlyEntryLeavesAnEmptyListAndFile) {
    Start({{"bans.txt", "127.0.0.1\r\n"}});
    Open(Bans());
    ASSERT_EQ(Rows(), QStringList{"127.0.0.1"});
    TestClient refused(port_);
    EXPECT_EQ(refused.ReadToClose(), kRefused);
    const QRect row = Bans().List()->visualItemRect(Bans().List()->item(0));
    QTest::mouseClick(Bans().List()->viewport(), Qt::LeftButton, {}, row.center());
    EXPECT_TRUE(Bans().UnbanButton()->isEnabled());
    QTest::mouseClick(Bans().UnbanButton(), Qt::LeftButton);
    Settle();
    EXPECT_EQ(Rows(), QStringList{});
    EXPECT_FALSE(Bans().UnbanButton()->isEnabled());
    EXPECT_EQ(File("bans.txt"), "");
    TestClient welcome(port_);
    welcome.Login("again");
}

TEST_F(BansWindowTest, BansFromChatShowUpAtOnce) {
    Start();
    Open(Bans());
    TestClient bob(port_, "127.0.0.2");
    bob.Login("Bob");
    Ask<bool>([](OperatorApi& api) {
        api.AdminBan("Bob");
        return true;
    });
    EXPECT_TRUE(WaitFor([&] { return Rows() == QStringList{"127.0.0.2"}; }));
}

class AnnouncementsWindowTest : public WindowFixture {
protected:
    console::AnnouncementsWindow& Editor() { return windows_->announcements; }
    void Retype(const QString& text) {
        Editor().Text()->selectAll();
        QTest::keyClick(Editor().Text(), Qt::Key_Delete);
        QTest::keyClicks(Editor().Text(), text);
        Settle();
    }
};

TEST_F(AnnouncementsWindowTest, ExitKeepsTheEditLiveButUnsavedSaveWritesIt) {
    Start();
    Open(Editor());
    EXPECT_EQ(Editor().Text()->toPlainText(), "Hello there.");
    Retype("Edited");
    QTest::mouseClick(Editor().ExitButton(), Qt::LeftButton);
    EXPECT_FALSE(Editor().isVisible());
    TestClient first(port_);
    first.ExpectBanner("Edited\r\n");
    EXPECT_EQ(File("announce.txt"), "Hello there.\r\n");
    // Reload Settings brings back the file's text.
    core_->ReloadSettings();
    Settle();
    TestClient second(port_);
    second.ExpectBanner("Hello there.\r\n");

    Open(Editor());
    Retype("Saved");
    QTest::mouseClick(Editor().SaveButton(), Qt::LeftButton);
    Settle();
    EXPECT_EQ(File("announce.txt"), "Saved\r\n");
    Retype("Not saved");
    QTest::mouseClick(Editor().LoadButton(), Qt::LeftButton);
    EXPECT_TRUE(WaitFor([&] { return Editor().Text()->toPlainText() == "Saved"; }));
}

}  // namespace
}  // namespace qm::test
