// qm_console_probe: whether the operator console's GUI thread stays
// responsive while chat clients log in. One process runs the program's core
// and its seven windows (the main window shown; the platform plugin comes
// from the environment, e.g. QT_QPA_PLATFORM=offscreen) on a scratch copy of
// data/, and logs --clients clients in over 127.0.0.1 from a thread of its
// own. Meanwhile a time-stamped call is posted to the GUI thread every
// --interval ms, and each notes how long it waited to run. The result is one
// line of key=value pairs on stdout; errors go to stderr with exit status 1.
#include <CLI/CLI.hpp>
#include <QApplication>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <future>
#include <memory>
#include <string>
#include <thread>

#include "console/console_windows.h"
#include "console/core_events.h"
#include "gui_latency.h"
#include "host/core_host.h"
#include "host/front_end_options.h"
#include "load_proc.h"
#include "load_report.h"
#include "load_swarm.h"
#include "storage/settings.h"
#include "storage/text_file.h"

namespace qm::bench {
namespace {

constexpr std::uint64_t kSecond = 1'000'000'000;
// How long the end waits for the core to write its files.
constexpr auto kCloseLimit = std::chrono::seconds(30);

struct Options {
    int clients = 2000;
    int inflight = 0;
    std::uint16_t port = 0;
    int interval_ms = 10;
    double after = 2;
    double timeout = 120;
    std::string nick_prefix = "c";
};

// The shipped defaults in a scratch directory, listening on `port` (0: the
// system picks one) and taking any number of connections (Max 0).
CoreHostOptions ScratchCore(const QTemporaryDir& dir, std::uint16_t port) {
    if (!dir.isValid()) throw LoadError("cannot make a scratch data directory");
    const std::filesystem::path data = dir.path().toStdString();
    SeedIfEmpty(data.string(), FrontEndOptions().defaultsDir);
    // qmserv.dat: line 1 the port, line 2 the most connections it accepts.
    auto server = ReadLines(data / files::kServer);
    if (server.size() < 2) throw LoadError("qmserv.dat of the defaults has fewer than two lines");
    server[0] = std::to_string(port);
    server[1] = "0";
    WriteLines(data / files::kServer, server);

    CoreHostOptions options;
    options.server.dataDir = data;
    // Never the operator's own preference store. The storm logs in from
    // 127.0.0.1 only, so the cap on logins in progress from one address is off.
    options.server.preferencesFile = data / "preferences";
    WriteFileAtomic(options.server.preferencesFile, "MaxLoginsPerAddress=0\n");
    options.server.listenAddresses = {"127.0.0.1"};
    return options;
}

struct StormOutcome {
    // Still connected: they leave only after the GUI's event loop has ended,
    // so that their departures are neither measured nor half shown.
    std::unique_ptr<Swarm> clients;
    int logins = 0;
    std::uint64_t login_ns = 0;
    std::string error;
};

// On a thread of its own: waits for the core, starts the probe, logs every
// client in and keeps them connected (and read) for `after` seconds more,
// so that what the logins left queued for the GUI is measured too.
StormOutcome Storm(const Options& options, CoreHost& host, std::future<bool> started, GuiLatencyProbe& probe) {
    StormOutcome outcome;
    try {
        if (!started.get()) throw LoadError("the core did not start");
        std::promise<unsigned short> port;
        host.Post([&port](OperatorApi& api) { port.set_value(api.ListeningPort()); });
        SwarmConfig config;
        config.port = port.get_future().get();
        if (config.port == 0) throw LoadError("the core does not listen");
        config.nick_prefix = options.nick_prefix;
        config.deadline_ns = NowNs() + static_cast<std::uint64_t>(options.timeout * kSecond);
        outcome.clients = std::make_unique<Swarm>(config, options.clients);
        Swarm& swarm = *outcome.clients;
        probe.Start();
        const std::uint64_t start = NowNs();
        swarm.LogInAll(options.inflight);
        outcome.login_ns = NowNs() - start;
        outcome.logins = swarm.ready();
        const std::uint64_t end = NowNs() + static_cast<std::uint64_t>(options.after * kSecond);
        while (NowNs() < end) swarm.Poll(kSecond / 20);
        probe.Stop();
    } catch (const std::exception& e) {
        outcome.error = e.what();
        probe.Stop();
    }
    return outcome;
}

int Run(int argc, char** argv) {
    Options options;
    CLI::App cli{"The console's GUI latency while chat clients log in (core and windows in this process)"};
    cli.add_option("--clients", options.clients, "clients that log in")->check(CLI::Range(1, 1'000'000));
    cli.add_option("--inflight", options.inflight, "logins under way at once; 0 = all at once")
        ->check(CLI::NonNegativeNumber);
    cli.add_option("--port", options.port, "port on 127.0.0.1 for the core; 0 = any free one");
    cli.add_option("--interval", options.interval_ms, "ms between two calls posted to the GUI thread")
        ->check(CLI::Range(1, 1000));
    cli.add_option("--after", options.after, "seconds of measuring after the last login")
        ->check(CLI::NonNegativeNumber);
    cli.add_option("--timeout", options.timeout, "give up on the logins after this many seconds")
        ->check(CLI::PositiveNumber);
    cli.add_option("--nick-prefix", options.nick_prefix, "nicknames are this prefix and a number");
    CLI11_PARSE(cli, argc, argv);
    RaiseFdLimit();

    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    const QTemporaryDir data;
    console::CoreEvents events;
    CoreHost host(events, ScratchCore(data, options.port));
    console::ConsoleWindows windows(host, events);
    std::int64_t log_lines = 0;
    QObject::connect(&events, &console::CoreEvents::logLine, &app, [&log_lines] { ++log_lines; });
    windows.main.show();
    std::promise<bool> started;
    host.Start([&started](bool ok) { started.set_value(ok); });
    windows.CoreStarted();

    GuiLatencyProbe probe(app, std::chrono::milliseconds(options.interval_ms));
    StormOutcome outcome;
    std::thread storm([&] {
        outcome = Storm(options, host, started.get_future(), probe);
        // Behind every call the probe posted.
        QMetaObject::invokeMethod(&app, &QCoreApplication::quit, Qt::QueuedConnection);
    });
    QApplication::exec();
    storm.join();
    const bool stopped = host.Stop(kCloseLimit);
    if (!outcome.error.empty()) throw LoadError(outcome.error);
    if (!stopped) throw LoadError("the core did not write its files in time");

    const auto* log = windows.main.findChild<QPlainTextEdit*>("log");
    auto& delays = probe.delays_ns();
    const double seconds = static_cast<double>(outcome.login_ns) / kSecond;
    Report report;
    report.Add("scenario", std::string("console"));
    report.Add("clients", options.clients);
    report.Add("inflight", options.inflight <= 0 ? std::string("all") : std::to_string(options.inflight));
    report.Add("logins", outcome.logins);
    report.Add("seconds", seconds, 3);
    report.Add("logins_per_s", outcome.logins / seconds, 1);
    report.Add("log_lines", log_lines);
    report.Add("log_blocks", log != nullptr ? log->blockCount() : -1);
    report.Add("gui_samples", static_cast<std::int64_t>(delays.size()));
    report.Add("gui_p50_ms", PercentileMs(delays, 0.50), 3);
    report.Add("gui_p99_ms", PercentileMs(delays, 0.99), 3);
    report.Add("gui_max_ms", PercentileMs(delays, 1.0), 3);
    report.Add("rss_peak_kib", OwnPeakRssKiB());
    report.Print();
    return 0;
}

}  // namespace
}  // namespace qm::bench

int main(int argc, char** argv) {
    try {
        return qm::bench::Run(argc, argv);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "qm_console_probe: error: %s\n", e.what());
        return 1;
    }
}
