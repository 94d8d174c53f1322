// The admin controls and the user data editor through their widgets, with
// real chat users.
#include <QCheckBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>

#include "storage/password_hash.h"
#include "storage/text_file.h"
#include "window_fixture.h"

namespace qm::test {
namespace {

class AdminWindowTest : public WindowFixture {
protected:
    console::AdminWindow& Admin() { return windows_->admin; }
    QStringList Entries(QListWidget* list) {
        QStringList entries;
        for (int i = 0; i < list->count(); ++i) entries << list->item(i)->text();
        return entries;
    }
    void Select(QListWidget* list, const QString& text) {
        const auto found = list->findItems(text, Qt::MatchExactly);
        ASSERT_FALSE(found.isEmpty()) << text.toStdString();
        const QRect row = list->visualItemRect(found.front());
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, row.center());
        Settle();
    }
};

TEST_F(AdminWindowTest, ListsEveryConnectionNewestFirstAndFollowsChanges) {
    Start();
    TestClient alice(port_), bob(port_);
    alice.Login("alice");
    bob.Login("bob");
    TestClient waiting(port_);
    waiting.ExpectBanner("Hello there.\r\n");
    Open(Admin());
    EXPECT_EQ(Entries(Admin().List()), (QStringList{"Choosing nickname...", "bob", "alice"}));

    // Login, nickname change and departure keep the list current.
    waiting.Send("carol\r\n");
    waiting.ReadUntil("joined\r\n");
    bob.Send("/n Robert\r\n");
    bob.ReadUntil("Robert\r\n");
    alice.CloseSocket();
    EXPECT_TRUE(WaitFor([&] { return Entries(Admin().List()) == QStringList{"Choosing nickname...", "Robert", "carol"}; }))
        << Entries(Admin().List()).join(",").toStdString();
}

TEST_F(AdminWindowTest, RoleBoxesShowTheRoleAndOnlyClicksChangeIt) {
    Start();
    TestClient alice(port_), bob(port_);
    alice.Login("alice");
    bob.Login("Bob");
    Ask<bool>([](OperatorApi& api) {
        api.SetRole("Bob", Role::kServOp, true);
        return true;
    });
    bob.Collect();
    alice.Collect();
    Open(Admin());
    QCheckBox* servOp = Admin().RoleBox(Role::kServOp);
    EXPECT_FALSE(servOp->isEnabled());
    EXPECT_FALSE(Admin().BanButton()->isEnabled());
    Select(Admin().List(), "Bob");
    EXPECT_TRUE(WaitFor([&] { return servOp->isChecked(); }));
    EXPECT_TRUE(Admin().BanButton()->isEnabled());
    EXPECT_FALSE(Admin().RoleBox(Role::kSpy)->isChecked());
    // Showing the role sent nothing.
    EXPECT_EQ(bob.Collect(), "");

    QTest::keyClick(servOp, Qt::Key_Space);
    const std::string removal = "*** You have been removed of your ServOP status by the admin.\r\n";
    EXPECT_EQ(bob.Read(removal), removal);
    QTest::keyClick(servOp, Qt::Key_Space);
    EXPECT_EQ(bob.ReadUntil("ServOPs\r\n").substr(0, 42), "*** You have been promoted to ServOP\r\nComm");
    EXPECT_EQ(alice.Collect(), "");
}

TEST_F(AdminWindowTest, KillWithAnEmptyReasonAndBan) {
    Start();
    TestClient alice(port_), bob(port_, "127.0.0.2"), carol(port_);
    alice.Login("alice");
    bob.Login("Bob");
    carol.Login("carol");
    alice.Collect();
    bob.Collect();
    Open(Admin());
    Select(Admin().List(), "Bob");
    QTest::mouseClick(Admin().BanButton(), Qt::LeftButton);
    Settle();
    EXPECT_EQ(File("bans.txt"), "127.0.0.2\r\n");

    QTest::mouseClick(Admin().KillButton(), Qt::LeftButton);
    EXPECT_EQ(bob.ReadToClose(), "Closing Link: Killed by the admin for reason: \r\n");
    const std::string heard = "*** Bob killed by the admin. ()\r\n*** Bob disconnected\r\n";
    EXPECT_EQ(alice.Read(heard), heard);
    EXPECT_EQ(Admin().Reason()->text(), "");
}

TEST_F(AdminWindowTest, KillTakesTheReasonAndEmptiesItsBox) {
    Start();
    TestClient alice(port_), bob(port_);
    alice.Login("alice");
    bob.Login("bob");
    Open(Admin());
    alice.Collect();
    Select(Admin().List(), "alice");
    QTest::keyClicks(Admin().Reason(), "enough");
    QTest::mouseClick(Admin().KillButton(), Qt::LeftButton);
    EXPECT_EQ(alice.ReadToClose(), "Closing Link: Killed by the admin for reason: enough\r\n");
    const std::string heard = "*** alice killed by the admin. (enough)\r\n*** alice disconnected\r\n";
    EXPECT_EQ(bob.Read(heard), heard);
    EXPECT_EQ(Admin().Reason()->text(), "");
}

// ---- the user data editor ----

std::string Record(const std::string& nick, const std::string& stored, const std::string& roles) {
    return nick + "\r\n" + stored + "\r\nY\r\n" + roles;
}

class UserDataWindowTest : public AdminWindowTest {
protected:
    console::UserDataWindow& Editor() { return windows_->userData; }
    // Presses Write Record and waits until the record is written.
    bool Write() {
        bool done = false, written = false;
        auto connection = QObject::connect(&Editor(), &console::UserDataWindow::recordWritten, [&](bool ok) {
            done = true;
            written = ok;
        });
        QTest::mouseClick(Editor().WriteButton(), Qt::LeftButton);
        const bool finished = WaitFor([&] { return done; });
        QObject::disconnect(connection);
        return finished && written;
    }
};

TEST_F(UserDataWindowTest, SelectingShowsTheStoredRolesAndHidingEmptiesTheList) {
    Start({{"user.dat", Record("Ann", "x", "Y\r\nN\r\n?\r\n") + Record("Bob", "y", "N\r\nY\r\nN\r\n")}});
    Open(Editor());
    EXPECT_EQ(Entries(Editor().List()), (QStringList{"Ann", "Bob"}));
    EXPECT_FALSE(Editor().Pass()->isEnabled());
    EXPECT_FALSE(Editor().WriteButton()->isEnabled());
    Editor().RoleBox(Role::kSpy)->setChecked(true);
    Select(Editor().List(), "Ann");
    EXPECT_TRUE(Editor().WriteButton()->isEnabled());
    EXPECT_TRUE(Editor().RoleBox(Role::kServOp)->isChecked());
    EXPECT_FALSE(Editor().RoleBox(Role::kChanOp)->isChecked());
    // "?" is neither Y nor N: the box stays as it was.
    EXPECT_TRUE(Editor().RoleBox(Role::kSpy)->isChecked());
    Editor().hide();
    EXPECT_EQ(Editor().List()->count(), 0);
}

TEST_F(UserDataWindowTest, WriteRecordWithoutPasswordKeepsItAndWithOneStoresAHash) {
    Start({{"user.dat", Record("Ann", "stored", "Y\r\nN\r\nN\r\n") + Record("Bob", "old", "N\r\nN\r\nN\r\n")}});
    Open(Editor());
    Select(Editor().List(), "Ann");
    QTest::keyClick(Editor().RoleBox(Role::kChanOp), Qt::Key_Space);
    ASSERT_TRUE(Write());
    Restart();  // user.dat is written at the end
    const auto written = ReadLines(dir_ / "user.dat");
    EXPECT_EQ(std::vector<std::string>(written.begin(), written.begin() + 6),
              (std::vector<std::string>{"Ann", "stored", "Y", "Y", "Y", "N"}));

    Open(Editor());
    Select(Editor().List(), "Ann");
    QTest::keyClicks(Editor().Pass(), "new pw");
    Select(Editor().List(), "Bob");
    // The typed password stays when another record is selected.
    EXPECT_EQ(Editor().Pass()->text(), "new pw");
    ASSERT_TRUE(Write());
    TestClient bob(port_);
    bob.ExpectBanner("Hello there.\r\n");
    bob.Send("Bob\r\nnew pw\r\n");
    EXPECT_EQ(bob.ReadUntil("*** Bob joined\r\n"),
              "Bob\r\nPassword: *** You have 0 messages.\r\nWelcome!\r\n*** Bob joined\r\n");
    const auto stored = Ask<std::vector<std::string>>([](OperatorApi& api) { return api.RegisteredNicks(); });
    EXPECT_EQ(stored, (std::vector<std::string>{"Ann", "Bob"}));
    Stop();
    const auto lines = ReadLines(dir_ / "user.dat");
    ASSERT_EQ(lines.size(), 12u);
    EXPECT_TRUE(IsPasswordHash(lines[7])) << lines[7];
}

}  // namespace
}  // namespace qm::test
