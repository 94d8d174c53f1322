// The Properties dialog through its widgets: live fields, Okay, Cancel, the
// remote administration box.
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>

#include "window_fixture.h"

namespace qm::test {
namespace {

class PropertiesDialogTest : public WindowFixture {
protected:
    console::PropertiesDialog& Dialog() { return windows_->properties; }
    QPushButton* Button(const QString& text) {
        for (auto* button : Dialog().findChildren<QPushButton*>())
            if (button->text() == text) return button;
        ADD_FAILURE() << "no button " << text.toStdString();
        return nullptr;
    }
    // Replaces a field's text by typing, as the operator does.
    void Type(const std::string& name, const QString& text) {
        QLineEdit* field = Dialog().Line(name);
        field->selectAll();
        QTest::keyClick(field, Qt::Key_Delete);
        QTest::keyClicks(field, text);
    }
    Settings Values() {
        return Ask<Settings>([](OperatorApi& api) { return api.SettingValues(); });
    }
};

TEST_F(PropertiesDialogTest, OpensOnTheGeneralTabWithTheFilesValues) {
    Start();
    Open(Dialog());
    EXPECT_EQ(Dialog().windowTitle(), "Properties");
    EXPECT_FALSE(Dialog().windowFlags() & Qt::WindowCloseButtonHint);
    EXPECT_EQ(Dialog().Tabs()->currentIndex(), 0);
    QStringList tabs;
    for (int i = 0; i < Dialog().Tabs()->count(); ++i) tabs << Dialog().Tabs()->tabText(i);
    EXPECT_EQ(tabs, (QStringList{"General", "Messages", "Advanced", "Misc", "Help Replies", "Help Replies 2"}));
    EXPECT_EQ(Dialog().Line("Welcome")->text(), "Welcome!");
    EXPECT_EQ(Dialog().Line("Prefix")->text(), "***");
    EXPECT_EQ(Dialog().Line("Prefix")->maxLength(), 3);
    EXPECT_EQ(Dialog().Line("ServOP")->maxLength(), 25);
    EXPECT_EQ(Dialog().Line("MainC")->text(), "Main");
    // The password field starts enabled, its label disabled.
    EXPECT_TRUE(Dialog().Line("AdminPass")->isEnabled());
    EXPECT_EQ(Dialog().Line("AdminPass")->echoMode(), QLineEdit::Password);
}

TEST_F(PropertiesDialogTest, TypedPrefixCountsBeforeAnyButton) {
    Start();
    TestClient amy(port_);
    amy.Login("amy");
    Open(Dialog());
    Type("Prefix", "!!");
    Settle();
    amy.Send("/xyz\r\n");
    EXPECT_EQ(amy.Read("/xyz\r\n!! No such command.\r\n"), "/xyz\r\n!! No such command.\r\n");
    EXPECT_EQ(File("messages.dat").substr(0, 5), "***\r\n");
}

TEST_F(PropertiesDialogTest, CancelRestoresWelcomeFromTheFile) {
    Start();
    Open(Dialog());
    Type("Welcome", "Changed");
    Settle();
    EXPECT_EQ(Values().Welcome, "Changed");
    QTest::mouseClick(Button("Cancel"), Qt::LeftButton);
    EXPECT_TRUE(WaitFor([&] { return !Dialog().isVisible(); }));
    EXPECT_EQ(Dialog().Line("Welcome")->text(), "Welcome!");
    EXPECT_EQ(Values().Welcome, "Welcome!");
}

TEST_F(PropertiesDialogTest, OkayWritesTheFilesAndAppliesBusyAndMax) {
    Start();
    TestClient amy(port_);
    amy.Login("amy");
    Open(Dialog());
    Type("Max", "1");
    Type("Busy", "Full up.");
    Type("Kick", "booted by");
    QTest::mouseClick(Button("Okay"), Qt::LeftButton);
    EXPECT_TRUE(WaitFor([&] { return !Dialog().isVisible(); }));
    EXPECT_EQ(File("qmserv.dat"), "0\r\n1\r\nWelcome!\r\nFull up.\r\n5\r\n");
    EXPECT_NE(File("messages.dat").find("\r\nbooted by\r\n"), std::string::npos);
    EXPECT_EQ(File("help.txt"), "Help text.\r\n");
    TestClient second(port_);
    EXPECT_EQ(second.ReadToClose(), kGreeting + "Announcements:\r\nHello there.\r\nFull up.\r\n");
}

TEST_F(PropertiesDialogTest, OkayWithASaverThatIsNoNumberStaysOpenWithTheError) {
    Start();
    Open(Dialog());
    Type("Saver", "x");
    QTest::mouseClick(Button("Okay"), Qt::LeftButton);
    QMessageBox* box = nullptr;
    EXPECT_TRUE(WaitFor([&] { return (box = windows_->main.findChild<QMessageBox*>()) != nullptr; }));
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->text(), "'x' is not a valid integer value");
    EXPECT_TRUE(Dialog().isVisible());
    EXPECT_EQ(File("qmserv.dat"), "0\r\n0\r\nWelcome!\r\nBusy now.\r\nx\r\n");
}

TEST_F(PropertiesDialogTest, UntickingRemoteAdministrationEmptiesThePassword) {
    Start();
    Open(Dialog());
    QTest::keyClick(Dialog().RemoteAdmin(), Qt::Key_Space);
    EXPECT_TRUE(Dialog().Line("AdminPass")->isEnabled());
    Type("AdminPass", "Sesame");
    Settle();
    EXPECT_EQ(Values().AdminPass, "Sesame");
    TestClient amy(port_);
    amy.Login("amy");
    amy.Send("/admin Sesame\r\n");
    EXPECT_NE(amy.ReadUntil("Admin mode enabled."), "");

    QTest::keyClick(Dialog().RemoteAdmin(), Qt::Key_Space);
    EXPECT_FALSE(Dialog().Line("AdminPass")->isEnabled());
    EXPECT_EQ(Dialog().Line("AdminPass")->text(), "");
    Settle();
    EXPECT_EQ(Values().AdminPass, "");
}

TEST_F(PropertiesDialogTest, IconToTrayIsAPreference) {
    Start();
    Open(Dialog());
    Dialog().Tabs()->setCurrentIndex(3);
    QTest::keyClick(Dialog().IconToTray(), Qt::Key_Space);
    Settle();
    EXPECT_TRUE(Values().Icon);
    EXPECT_NE(File("preferences").find("Icon=true"), std::string::npos);
}

}  // namespace
}  // namespace qm::test
