// The main window, driven through its real widgets against a real core.
#include <QApplication>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QSystemTrayIcon>
#include <QTest>
#include <QTextBlock>
#include <filesystem>
#include <thread>

#include "console/log_view.h"
#include "console/main_window.h"
#include "console/star_field.h"
#include "console_core.h"
#include "gui_wait.h"
#include "storage/settings.h"

namespace qm::test {

using console::MainWindow;

namespace {

QStringList Texts(const QList<QAction*>& actions) {
    QStringList texts;
    for (const QAction* action : actions)
        if (!action->isSeparator()) texts << action->text();
    return texts;
}

QAction* FindAction(QMenu* menu, const QString& text) {
    for (QAction* action : menu->actions())
        if (action->text() == text) return action;
    return nullptr;
}

// The message boxes the window has open.
QList<QMessageBox*> OpenMessageBoxes() {
    QList<QMessageBox*> boxes;
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (auto* box = qobject_cast<QMessageBox*>(widget); box && box->isVisible()) boxes << box;
    return boxes;
}

}  // namespace

class MainWindowTest : public QObject {
    Q_OBJECT
private:
    void Open(const std::string& adminPass = "", bool icon = false) {
        core_ = std::make_unique<ConsoleCore>(adminPass);
        window_ = std::make_unique<MainWindow>(*core_->host, core_->events);
        window_->show();
        QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
        QVERIFY(core_->Start());
        core_->Ask<bool>([icon](OperatorApi& api) { return api.SetSetting("Icon", icon ? "1" : "0"); });
        QTRY_VERIFY(LogText().contains("Databases ready."));
    }
    QMenu* Menu(const QString& title) const {
        for (QAction* action : window_->menuBar()->actions())
            if (action->text() == title) return action->menu();
        return nullptr;
    }
    QAction* FileAction(const QString& text) const { return FindAction(Menu("&File"), text); }
    console::LogView* Log() const { return window_->findChild<console::LogView*>("log"); }
    QString LogText() const { return Log()->toPlainText(); }
    QLineEdit* Password() const { return window_->findChild<QLineEdit*>("password"); }
    QPushButton* UnlockButton() const { return window_->findChild<QPushButton*>("unlock"); }
    console::StarField* Stars() const { return window_->findChild<console::StarField*>(); }
    bool ShowsConsole() const { return window_->menuBar()->isVisible() && Log()->isVisible(); }
    bool ShowsLock() const {
        return !window_->menuBar()->isVisible() && !Log()->isVisible() && Password()->isVisible() &&
               UnlockButton()->isVisible() && Stars()->IsAnimating();
    }
    // File, Lock; the window asks the core for the password first.
    void LockNow() {
        FileAction("Lock")->trigger();
        QTRY_VERIFY(ShowsLock());
    }
    // Lets the answers to what the window asked the core so far arrive.
    void Settle() { QVERIFY(SettleWithCore(*core_->host)); }
    // Opens the File menu and clicks `item`, with the mouse as the operator would.
    void ChooseFromFileMenu(QAction* item) {
        QMenu* file = Menu("&File");
        QMenuBar* bar = window_->menuBar();
        QTest::mouseClick(bar, Qt::LeftButton, {}, bar->actionGeometry(file->menuAction()).center());
        QTRY_VERIFY(file->isVisible());
        QTest::mouseClick(file, Qt::LeftButton, {}, file->actionGeometry(item).center());
        QTRY_VERIFY(!file->isVisible());
    }

    std::unique_ptr<ConsoleCore> core_;
    std::unique_ptr<MainWindow> window_;

private slots:
    void cleanup() {
        for (QMessageBox* box : OpenMessageBoxes()) box->close();
        window_.reset();
        core_.reset();
    }

    void showsTheLogFromItsFirstLineOnAndItsMenus() {
        Open();
        QCOMPARE(window_->windowTitle(), QString("Quillmoot v1.0"));
        QCOMPARE(Log()->document()->firstBlock().text(), QString("Loaded Quillmoot."));
        QVERIFY(Log()->isReadOnly());
        QVERIFY(LogText().contains("Waiting for connections..."));

        QCOMPARE(Texts(window_->menuBar()->actions()), (QStringList{"&File", "&Configure"}));
        QCOMPARE(Texts(Menu("&File")->actions()),
                 (QStringList{"&Activate", "&Deactivate", "Reload Settings", "Lock", "&Save Log", "E&xit"}));
        const auto& configure = window_->configureActions();
        QCOMPARE(Menu("&Configure")->actions(),
                 (QList<QAction*>{configure.properties, configure.announcements, configure.bans,
                                  configure.administration, configure.ircLink, configure.userData}));
        QCOMPARE(Texts(Menu("&Configure")->actions()), (QStringList{"&Properties", "&Announcements", "&Bans",
                                                                    "A&dministration", "&IRC Link", "&User Data"}));
        // The quick menu shares the menus' actions.
        const QMenu* quick = window_->findChild<QSystemTrayIcon*>()->contextMenu();
        QCOMPARE(quick->actions(), (QList<QAction*>{configure.properties, FileAction("&Activate"),
                                                    FileAction("&Deactivate"), configure.userData, configure.bans,
                                                    configure.administration, configure.ircLink, FileAction("Lock")}));
    }

    void laterLinesArriveAsTheCoreLogsThem() {
        Open();
        const unsigned short port = core_->ListeningPort();
        QCOMPARE(Greeting(port), kGreeting);
        QTRY_VERIFY(LogText().contains("Client connecting: 127.0.0.1"));
    }

    void deactivateAndActivateFollowListening() {
        Open();
        QAction* activate = FileAction("&Activate");
        QAction* deactivate = FileAction("&Deactivate");
        QVERIFY(!activate->isEnabled());
        QVERIFY(deactivate->isEnabled());
        const unsigned short before = core_->ListeningPort();
        QCOMPARE(Greeting(before), kGreeting);

        ChooseFromFileMenu(deactivate);
        if (QTest::currentTestFailed()) return;
        QTRY_VERIFY(activate->isEnabled());
        QVERIFY(!deactivate->isEnabled());
        QCOMPARE(core_->ListeningPort(), 0);
        QCOMPARE(Greeting(before), std::string());

        ChooseFromFileMenu(activate);
        if (QTest::currentTestFailed()) return;
        QTRY_VERIFY(deactivate->isEnabled());
        QVERIFY(!activate->isEnabled());
        QCOMPARE(Greeting(core_->ListeningPort()), kGreeting);
        QTRY_VERIFY(LogText().contains("Server activated."));
    }

    void lockWithoutAPasswordAsksForOneAndStaysUnlocked() {
        Open();
        FileAction("Lock")->trigger();
        QTRY_COMPARE(OpenMessageBoxes().size(), 1);
        QMessageBox* box = OpenMessageBoxes().front();
        QCOMPARE(box->windowTitle(), QString("Set a password"));
        QCOMPARE(box->text(),
                 QString("Please set an admin password first (even if you don't enable remote administration)"));
        QCOMPARE(box->icon(), QMessageBox::Warning);
        QCOMPARE(box->standardButtons(), QMessageBox::Ok);
        QVERIFY(ShowsConsole());
        QVERIFY(!window_->IsLocked());
        QTest::mouseClick(box->button(QMessageBox::Ok), Qt::LeftButton);
        QTRY_VERIFY(OpenMessageBoxes().isEmpty());
        QVERIFY(ShowsConsole());
    }

    void unlockTakesExactlyThePassword_data() {
        QTest::addColumn<QString>("wrong");
        QTest::newRow("other letter case") << "sesame";
        QTest::newRow("shorter") << "Sesam";
        QTest::newRow("longer") << "Sesame!";
        QTest::newRow("empty") << "";
    }
    void unlockTakesExactlyThePassword() {
        QFETCH(QString, wrong);
        Open("Sesame");
        LockNow();
        QVERIFY(window_->IsLocked());

        QTest::keyClicks(Password(), wrong);
        QCOMPARE(Password()->displayText(), QString(wrong.size(), '!'));
        QTest::mouseClick(UnlockButton(), Qt::LeftButton);
        Settle();
        QVERIFY(ShowsLock());
        QCOMPARE(Password()->text(), QString());
        QVERIFY(OpenMessageBoxes().isEmpty());

        QTest::keyClicks(Password(), "Sesame");
        QCOMPARE(Password()->displayText(), QString("!!!!!!"));
        QTest::keyClick(Password(), Qt::Key_Return);
        QTRY_VERIFY(ShowsConsole());
        QVERIFY(!window_->IsLocked());
        QVERIFY(!Stars()->IsAnimating());
        QCOMPARE(Password()->text(), QString());
    }

    void aPasswordChangedWhileLockedIsTheOneThatUnlocks() {
        Open("Sesame");
        LockNow();
        core_->Ask<bool>([](OperatorApi& api) { return api.SetSetting("AdminPass", "Open up"); });
        QTest::keyClicks(Password(), "Sesame");
        QTest::mouseClick(UnlockButton(), Qt::LeftButton);
        Settle();
        QVERIFY(ShowsLock());
        QTest::keyClicks(Password(), "Open up");
        QTest::mouseClick(UnlockButton(), Qt::LeftButton);
        QTRY_VERIFY(ShowsConsole());
    }

    void theQuickMenuStaysWhileLocked() {
        Open("Sesame");
        LockNow();
        const QMenu* quick = window_->findChild<QSystemTrayIcon*>()->contextMenu();
        for (const QAction* action : quick->actions()) {
            QVERIFY2(action->isVisible(), qPrintable(action->text()));
            QCOMPARE(action->isEnabled(), action != FileAction("&Activate"));
        }
    }

    void theLogGoesOnWhileLocked() {
        Open("Sesame");
        LockNow();
        QCOMPARE(Greeting(core_->ListeningPort()), kGreeting);
        QTRY_VERIFY(LogText().contains("Client connecting: 127.0.0.1"));
    }

    void closingWhileLockedWritesTheDatabasesAndStaysOpen_data() {
        QTest::addColumn<bool>("byExit");
        QTest::newRow("the window's close") << false;
        QTest::newRow("File, Exit") << true;
    }
    void closingWhileLockedWritesTheDatabasesAndStaysOpen() {
        QFETCH(bool, byExit);
        Open("Sesame");
        QAction* exit = FileAction("E&xit");
        QSignalSpy closed(window_.get(), &MainWindow::closed);
        std::filesystem::remove(core_->DataFile(files::kUsers));
        std::filesystem::remove(core_->DataFile(files::kMail));
        LockNow();
        if (byExit)
            exit->trigger();
        else
            QVERIFY(!window_->close());
        QTRY_VERIFY(std::filesystem::exists(core_->DataFile(files::kUsers)));
        QTRY_VERIFY(std::filesystem::exists(core_->DataFile(files::kMail)));
        QVERIFY(window_->isVisible());
        QVERIFY(ShowsLock());
        QCOMPARE(closed.count(), 0);
    }

    void exitWhenUnlockedClosesTheWindow() {
        Open("Sesame");
        QSignalSpy closed(window_.get(), &MainWindow::closed);
        FileAction("E&xit")->trigger();
        QCOMPARE(closed.count(), 1);
        QVERIFY(!window_->isVisible());
    }

    void anOperatorErrorIsShown() {
        Open();
        std::filesystem::remove(core_->DataFile(files::kHelp));
        FileAction("Reload Settings")->trigger();
        QTRY_COMPARE(OpenMessageBoxes().size(), 1);
        QMessageBox* box = OpenMessageBoxes().front();
        QCOMPARE(box->text(), QString("Cannot open file ") +
                                  QString::fromStdString(core_->DataFile(files::kHelp).string()));
        QCOMPARE(box->icon(), QMessageBox::Critical);
        // The box does not hold the core's events up.
        QCOMPARE(Greeting(core_->ListeningPort()), kGreeting);
        QTRY_VERIFY(LogText().contains("Client connecting: 127.0.0.1"));
    }

    void minimising_data() {
        QTest::addColumn<bool>("icon");
        QTest::newRow("icon to tray off") << false;
        QTest::newRow("icon to tray on") << true;
    }
    void minimising() {
        QFETCH(bool, icon);
        Open("", icon);
        auto* tray = window_->findChild<QSystemTrayIcon*>();
        const QString note = "No system tray here; the window minimises normally.";
        const bool toTray = icon && QSystemTrayIcon::isSystemTrayAvailable();
        for (int round = 0; round < 2; ++round) {
            window_->showMinimized();
            // The window asks the core for the preference first.
            Settle();
            QTRY_COMPARE(window_->isVisible(), !toTray);
            QCOMPARE(tray->isVisible(), toTray);
            if (toTray) emit tray->activated(QSystemTrayIcon::DoubleClick);
            else window_->showNormal();
            QTRY_VERIFY(window_->isVisible());
            QVERIFY(!tray->isVisible());
        }
        // Where there is no tray, the log says so once. A line logged after
        // the minimising shows only once everything before it has.
        Settle();
        core_->events.LogLineAdded("after minimising");
        QTRY_VERIFY(LogText().contains("after minimising"));
        QCOMPARE(LogText().count(note), icon && !toTray ? 1 : 0);
    }

    void manyLinesArriveAndTheViewStaysBounded() {
        Open();
        // As the core raises them: from another thread, faster than the eye.
        const int lines = MainWindow::kLogLines * 2;
        std::thread core([&] {
            for (int i = 0; i < lines; ++i) core_->events.LogLineAdded("line " + std::to_string(i));
        });
        core.join();
        const QString last = QString("line %1").arg(lines - 1);
        QTRY_COMPARE(Log()->document()->lastBlock().text(), last);
        QCOMPARE(Log()->document()->blockCount(), MainWindow::kLogLines);
        QCOMPARE(Log()->document()->firstBlock().text(), QString("line %1").arg(lines - MainWindow::kLogLines));
    }
};

}  // namespace qm::test

QTEST_MAIN(qm::test::MainWindowTest)
#include "main_window_test.moc"
