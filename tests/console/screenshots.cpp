// console_screenshots: a picture of every console window, for the README and
// for checking the layouts by eye. It runs the real program's pieces: a core
// on a scratch copy of data/ listening on a free loopback port, the seven
// windows as the program builds them, chat users on real TCP connections and,
// for the IRC link window, a real ngircd. Each window is drawn with
// QWidget::grab() into <output dir>/<name>.png.
//
//   console_screenshots <output dir>
//
// scripts/screenshots.sh builds it and runs it under Xvfb.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFont>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <chrono>
#include <functional>
#include <iostream>
#include <string>

#include "console/console_windows.h"
#include "gui_wait.h"
#include "console_core.h"
#include "irc_test_client.h"
#include "ngircd_server.h"
#include "storage/settings.h"
#include "storage/text_file.h"

namespace {

using namespace std::chrono_literals;
using qm::console::ConsoleWindows;

// The administrator password the core gets, so that the console can lock.
constexpr const char* kAdminPass = "swordfish";

[[noreturn]] void Fail(const std::string& why) {
    std::cerr << "console_screenshots: " << why << std::endl;
    std::exit(1);
}

using qm::test::WaitForGui;

void Pause(std::chrono::milliseconds period) {
    WaitForGui([] { return false; }, period);
}

void Settle(qm::CoreHost& core) {
    if (!qm::test::SettleWithCore(core)) Fail("the core does not answer");
}

// A chat user on a plain TCP connection, as a terminal client would be.
class ChatUser {
public:
    explicit ChatUser(unsigned short port) : fd_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(port);
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (fd_ < 0 || ::connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0)
            Fail("cannot connect to the chat server on port " + std::to_string(port));
        Expect("Nickname: ");
    }
    ~ChatUser() { ::close(fd_); }
    ChatUser(const ChatUser&) = delete;
    ChatUser& operator=(const ChatUser&) = delete;

    void Say(const std::string& line) {
        const std::string bytes = line + "\r\n";
        if (::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(bytes.size()))
            Fail("cannot send to the chat server");
    }
    // Reads until `text` has arrived (and drops what came before it).
    void Expect(const std::string& text) {
        const auto deadline = std::chrono::steady_clock::now() + 10s;
        std::string::size_type at;
        while ((at = seen_.find(text)) == std::string::npos) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline -
                                                                                    std::chrono::steady_clock::now());
            pollfd ready{fd_, POLLIN, 0};
            char buffer[4096];
            ssize_t n = 0;
            if (left.count() <= 0 || ::poll(&ready, 1, static_cast<int>(left.count())) != 1 ||
                (n = ::read(fd_, buffer, sizeof buffer)) <= 0)
                Fail("the chat server did not send \"" + text + "\"; it sent: " + seen_);
            seen_.append(buffer, static_cast<std::size_t>(n));
        }
        seen_.erase(0, at + text.size());
    }
    void Login(const std::string& nick) {
        Say(nick);
        Expect("has joined the chat.");
    }

private:
    int fd_;
    std::string seen_;
};

// A port nothing listens on now, for the Properties dialog to show a real
// number rather than the 0 that asks the system for any.
unsigned short FreePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof addr;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &size) != 0)
        Fail("cannot find a free port");
    ::close(fd);
    return ntohs(addr.sin_port);
}

class Camera {
public:
    explicit Camera(QString dir) : dir_(std::move(dir)) {}
    void Shoot(QWidget& window, const QString& name) {
        // Whatever is still pending for the window (layout, a repaint).
        QCoreApplication::processEvents();
        const QString path = dir_ + "/" + name + ".png";
        if (!window.grab().save(path)) Fail("cannot write " + path.toStdString());
        std::cout << path.toStdString() << "  " << window.width() << "x" << window.height() << std::endl;
    }

private:
    QString dir_;
};

void Show(QWidget& window, qm::CoreHost& core) {
    window.show();
    window.raise();
    Settle(core);
}

void Select(QListWidget* list, const QString& text, qm::CoreHost& core) {
    const auto found = list->findItems(text, Qt::MatchExactly);
    if (found.isEmpty()) Fail("no \"" + text.toStdString() + "\" in the list");
    // A click, as the operator selects.
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(found.front()).center());
    Settle(core);
}

void Retype(QLineEdit* edit, const QString& text) {
    edit->selectAll();
    QTest::keyClick(edit, Qt::Key_Delete);
    QTest::keyClicks(edit, text);
}

QAction* MenuAction(QWidget& window, const QString& text) {
    for (QAction* action : window.findChildren<QAction*>())
        if (action->text() == text) return action;
    Fail("no menu item " + text.toStdString());
}

void ShootIrcLink(ConsoleWindows& windows, qm::console::CoreEvents& events, qm::CoreHost& core, Camera& camera) {
    if (!qm::test::NgircdServer::Available()) {
        std::cout << "irc-link.png skipped: " << qm::test::NgircdServer::kBinary
                  << " is not installed (scripts/install-deps.sh installs it)" << std::endl;
        return;
    }
    // ngircd's default of 9 characters would refuse the link's nick "Night-Wisp".
    qm::test::NgircdOptions options;
    options.maxNickLength = 30;
    options.relaxLimits = true;
    qm::test::NgircdServer irc(options);
    if (!irc.Start()) Fail("ngircd did not start:\n" + irc.Log());

    auto& link = windows.ircLink;
    Show(link, core);
    Retype(link.Edit("Server"), "127.0.0.1");
    Retype(link.Edit("Port"), QString::number(irc.Port()));
    Retype(link.Edit("Channel"), "#quillmoot");
    qm::LinkState state = qm::LinkState::kDown;
    QObject::connect(&events, &qm::console::CoreEvents::linkStateChanged, [&](qm::LinkState now) { state = now; });
    QTest::mouseClick(link.StartButton(), Qt::LeftButton);
    if (!WaitForGui([&] { return state == qm::LinkState::kUp; }, 20s))
        Fail("the IRC link did not come up; its log:\n" + link.Log()->toPlainText().toStdString());

    QTest::mouseClick(link.JoinButton(), Qt::LeftButton);
    const auto logHas = [&](const QString& text) { return link.Log()->toPlainText().contains(text); };
    if (!WaitForGui([&] { return logHas("*** Joined channel: #quillmoot"); }))
        Fail("the link did not join; its log:\n" + link.Log()->toPlainText().toStdString());
    // Two IRC users come in after the link, and one of them changes nick.
    qm::test::IrcTestClient ann(irc.Port()), ben(irc.Port());
    if (!ann.Register("ann") || !ann.Join("#quillmoot") || !ben.Register("ben") || !ben.Join("#quillmoot"))
        Fail("the IRC users could not join");
    ben.Send("NICK benny");
    ann.Send("PRIVMSG #quillmoot :hello from IRC");
    if (!WaitForGui([&] { return logHas("*** ben is now benny."); }))
        Fail("the link log does not follow the channel:\n" + link.Log()->toPlainText().toStdString());
    // Enter is a shortcut of the window: it has to be the active one.
    link.activateWindow();
    if (!QTest::qWaitForWindowActive(&link)) Fail("the IRC link window does not become active");
    QTest::keyClicks(link.ToChannel(), "hello from the console");
    QTest::keyClick(link.ToChannel(), Qt::Key_Return);
    if (!ann.WaitFor("hello from the console")) Fail("the line to the channel did not reach IRC");
    Settle(core);
    camera.Shoot(link, "irc-link");
    QTest::mouseClick(link.StopButton(), Qt::LeftButton);
    WaitForGui([&] { return state == qm::LinkState::kDown; }, 5s);
    link.hide();
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName("Quillmoot");
    QApplication::setQuitOnLastWindowClosed(false);
    QApplication::setFont(QFont("DejaVu Sans", 10));
    if (argc != 2) Fail("usage: console_screenshots <output dir>");
    const QString out = QString::fromLocal8Bit(argv[1]);
    if (!QDir().mkpath(out)) Fail("cannot create " + out.toStdString());
    Camera camera(out);

    qm::test::ConsoleCore core(kAdminPass);
    auto server = qm::ReadLines(core.DataFile(qm::files::kServer));
    server.at(0) = std::to_string(FreePort());
    qm::WriteLines(core.DataFile(qm::files::kServer), server);
    ConsoleWindows windows(*core.host, core.events);
    windows.main.resize(760, 460);
    windows.main.show();
    if (!core.Start()) Fail("the core did not start");
    windows.CoreStarted();
    const unsigned short port = core.ListeningPort();

    // Some real activity for the log and the lists: two users who register
    // and talk, a third who has left, and one still choosing a nickname.
    ChatUser alice(port), bob(port);
    alice.Login("alice");
    bob.Login("bob");
    alice.Say("/reg wonderland");
    alice.Expect("You have been registered.");
    bob.Say("/reg builder");
    bob.Expect("You have been registered.");
    {
        ChatUser dave(port);
        dave.Login("dave");
        dave.Say("/reg divers");
        dave.Expect("You have been registered.");
        alice.Say("hi bob, how is the new server?");
        bob.Expect("how is the new server?");
        dave.Say("/quit");
        alice.Expect("has quit");
    }
    bob.Say("quiet so far, which is how I like it");
    alice.Expect("how I like it");
    ChatUser newcomer(port);
    Settle(*core.host);
    Pause(200ms);  // the log view adds its lines in batches
    camera.Shoot(windows.main, "main-window");

    // Properties: each tab in turn.
    auto& properties = windows.properties;
    Show(properties, *core.host);
    const char* tabNames[] = {"general", "messages", "advanced", "misc", "help-replies", "help-replies-2"};
    for (int i = 0; i < properties.Tabs()->count(); ++i) {
        properties.Tabs()->setCurrentIndex(i);
        camera.Shoot(properties, QString("properties-") + tabNames[i]);
    }
    properties.Tabs()->setCurrentIndex(0);
    properties.hide();

    // Admin controls: bob made a channel operator, then selected.
    core.Ask<bool>([](qm::OperatorApi& api) {
        api.SetRole("bob", qm::Role::kChanOp, true);
        return true;
    });
    auto& admin = windows.admin;
    Show(admin, *core.host);
    if (!WaitForGui([&] { return admin.List()->count() == 3; }))
        Fail("the admin controls list " + std::to_string(admin.List()->count()) + " users, not 3");
    Select(admin.List(), "bob", *core.host);
    QTest::keyClicks(admin.Reason(), "flooding");
    if (!WaitForGui([&] { return admin.RoleBox(qm::Role::kChanOp)->isChecked(); })) Fail("bob's role is not shown");
    camera.Shoot(admin, "admin-controls");
    admin.hide();

    // User data: alice's record made a ServOP with Write Record, and left selected.
    auto& userData = windows.userData;
    Show(userData, *core.host);
    if (!WaitForGui([&] { return userData.List()->count() == 3; }))
        Fail("the user data editor lists " + std::to_string(userData.List()->count()) + " records, not 3");
    Select(userData.List(), "alice", *core.host);
    bool written = false;
    QObject::connect(&userData, &qm::console::UserDataWindow::recordWritten, [&](bool ok) { written = ok; });
    QTest::keyClick(userData.RoleBox(qm::Role::kServOp), Qt::Key_Space);
    QTest::mouseClick(userData.WriteButton(), Qt::LeftButton);
    if (!WaitForGui([&] { return written; })) Fail("Write Record did not write alice's record");
    // Selected again, the record shows what was written.
    Select(userData.List(), "bob", *core.host);
    Select(userData.List(), "alice", *core.host);
    if (!WaitForGui([&] { return userData.RoleBox(qm::Role::kServOp)->isChecked(); }))
        Fail("alice's record does not show ServOP");
    camera.Shoot(userData, "user-data");
    userData.hide();

    // Bans: entries added through the editor, one selected.
    auto& bans = windows.bans;
    Show(bans, *core.host);
    for (const char* entry : {"10.0.0.*", "192.168.7.23", "172.16.*.*"}) {
        QTest::keyClicks(bans.Entry(), entry);
        QTest::mouseClick(bans.AddButton(), Qt::LeftButton);
        Settle(*core.host);
    }
    if (!WaitForGui([&] { return bans.List()->count() >= 3; })) Fail("the bans editor does not show the entries");
    Select(bans.List(), "192.168.7.23", *core.host);
    QTest::keyClicks(bans.Entry(), "203.0.113.");
    camera.Shoot(bans, "bans");
    bans.hide();

    auto& announcements = windows.announcements;
    Show(announcements, *core.host);
    camera.Shoot(announcements, "announcements");
    announcements.hide();

    ShootIrcLink(windows, core.events, *core.host, camera);

    // Locked: the star field behind a password field with a few characters typed.
    MenuAction(windows.main, "Lock")->trigger();
    if (!WaitForGui([&] { return windows.main.IsLocked(); })) Fail("the console did not lock");
    if (auto* field = windows.main.findChild<QLineEdit*>("password")) QTest::keyClicks(field, "swor");
    Pause(700ms);  // a few frames of stars
    camera.Shoot(windows.main, "main-window-locked");
    return 0;
}
