// quillmoot: the chat server with its operator console. The core runs on a
// thread of its own; the windows run on the GUI thread and reach it only
// through the host.
#include <CLI/CLI.hpp>
#include <QApplication>
#include <iostream>

#include "console/core_events.h"
#include "console/console_windows.h"
#include "console/quit_on_signals.h"
#include "host/core_host.h"
#include "host/front_end_options.h"

namespace {

// How long the end waits for user.dat, mail.dat and the log to be written.
constexpr auto kCloseLimit = std::chrono::seconds(30);

}  // namespace

int main(int argc, char** argv) {
    CLI::App cli{"Quillmoot chat server with its operator console"};
    qm::FrontEndOptions frontEnd;
    qm::AddFrontEndOptions(cli, frontEnd, "quillmoot");
    // Parsed before the window system is reached, so that --help and
    // --version work without a display.
    if (const auto status = qm::ParseCommandLine(cli, argc, argv, "quillmoot")) return *status;

    qm::CoreHostOptions options;
    try {
        options = qm::PrepareCore(frontEnd);
    } catch (const std::exception& e) {
        std::cerr << "quillmoot: " << e.what() << std::endl;
        return qm::kExitFailure;
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName("Quillmoot");
    // Message boxes may close while the window sits in the tray; only the
    // window's own close ends the program.
    QApplication::setQuitOnLastWindowClosed(false);
    qm::console::QuitOnSignals(&app);

    qm::console::CoreEvents events;
    qm::CoreHost host(events, std::move(options));
    qm::console::ConsoleWindows windows(host, events);
    QObject::connect(&windows.main, &qm::console::MainWindow::closed, &app, &QApplication::quit);
    windows.main.show();
    // A step that fails has shown its error; the window stays for the operator.
    host.Start([](bool) {});
    windows.CoreStarted();
    const int status = QApplication::exec();
    return host.Stop(kCloseLimit) && status == 0 ? 0 : qm::kExitFailure;
}
