// qm_load: a load generator for chat servers on 127.0.0.1, speaking the
// Quillmoot line protocol or IRC. One scenario per run; the result is one
// line of key=value pairs on stdout, errors go to stderr with exit status 1.
#include <poll.h>
#include <signal.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "load_proc.h"
#include "load_report.h"
#include "load_swarm.h"
#include "login_steps.h"

namespace qm::bench {
namespace {

constexpr std::uint64_t kMs = 1'000'000;
constexpr std::uint64_t kSecond = 1'000'000'000;
// The chat channel that quillmootd bridges with IRC.
constexpr const char* kBridgedChannel = "IRC";

struct Options {
    std::string scenario;
    Protocol protocol = Protocol::kQuillmoot;
    int clients = 500;
    int lines = 20;
    double rate = 2000;
    double duration = 5;
    int inflight = 100;
    int channel_size = 10;
    int step = 1000;
    std::uint16_t irc_port = 0;
    int irc_clients = 50;
    pid_t server_pid = 0;
    double timeout = 120;
    double settle = 1;
    bool verbose = false;
    SwarmConfig swarm;
};

void AddLatencies(Report& report, std::vector<std::uint64_t>& latencies, const std::string& prefix = "") {
    report.Add(prefix + "p50_ms", PercentileMs(latencies, 0.50), 3);
    report.Add(prefix + "p99_ms", PercentileMs(latencies, 0.99), 3);
    report.Add(prefix + "max_ms", PercentileMs(latencies, 1.0), 3);
}

double Seconds(std::uint64_t ns) { return static_cast<double>(ns) / kSecond; }

// Waits up to `ns` until either swarm has events, then handles those of both.
void PollBoth(Swarm& a, Swarm& b, std::uint64_t ns) {
    pollfd fds[] = {{a.poll_fd(), POLLIN, 0}, {b.poll_fd(), POLLIN, 0}};
    const timespec wait{static_cast<time_t>(ns / kSecond), static_cast<long>(ns % kSecond)};
    if (ppoll(fds, 2, &wait, nullptr) < 0 && errno != EINTR)
        throw LoadError(std::string("ppoll: ") + std::strerror(errno));
    a.Poll(0);
    b.Poll(0);
}

class Scenario {
public:
    explicit Scenario(const Options& options) : options_(options) {}

    // Logs every client in, keeping at most `inflight` logins under way
    // (all at once when it is 0); `after_each` runs after every login.
    void LoginAll(Swarm& swarm, int inflight, const std::function<void()>& after_each = {}) {
        phase_ = Phase::kLogin;
        logging_in_ = &swarm;
        swarm.LogInAll(inflight, after_each);
        Note("logged in");
    }

    // Lets the notices of the logins drain: returns once nothing has arrived
    // for a while and the server has used next to no CPU time over that
    // while (its timers may still wake it).
    void Settle(Swarm* swarm) {
        phase_ = Phase::kSettle;
        std::optional<double> cpu = Cpu();
        for (;;) {
            const std::uint64_t start = NowNs();
            while (NowNs() - start < 250 * kMs) {
                if (swarm) swarm->Poll(10 * kMs);
                else Poll(10 * kMs);
            }
            const std::optional<double> now = Cpu();
            const bool cpu_quiet = !cpu || !now || *now - *cpu < 0.002;
            const bool rx_quiet = !swarm || NowNs() - swarm->last_receive_ns() >= 250 * kMs;
            if (cpu_quiet && rx_quiet) {
                Note("server quiet");
                return;
            }
            cpu = now;
        }
    }

    // With --verbose: when each phase ended, on stderr.
    void Note(const char* what) const {
        if (options_.verbose)
            std::fprintf(stderr, "qm_load: %.3f s: %s\n", Seconds(NowNs() - started_), what);
    }

    std::optional<double> Cpu() const {
        if (options_.server_pid == 0) return std::nullopt;
        auto cpu = CpuSeconds(options_.server_pid);
        if (!cpu) throw LoadError("server process " + std::to_string(options_.server_pid) + " is gone");
        return cpu;
    }

    // Waits without a swarm, still honouring the deadline.
    void Poll(std::uint64_t ns) const {
        if (NowNs() + ns > options_.swarm.deadline_ns) throw LoadError("time limit reached");
        timespec wait{static_cast<time_t>(ns / kSecond), static_cast<long>(ns % kSecond)};
        nanosleep(&wait, nullptr);
    }

    Report Header() const {
        Report report;
        report.Add("scenario", options_.scenario);
        report.Add("proto", options_.protocol == Protocol::kIrc ? "irc" : "quillmoot");
        report.Add("clients", options_.clients);
        return report;
    }

    // CPU time used so far by the server and by this process.
    struct CpuMark {
        std::optional<double> server;
        double own = 0;
        std::uint64_t wall_ns = 0;
    };
    CpuMark MarkCpu() const { return {Cpu(), OwnCpuSeconds(), NowNs()}; }

    // The CPU time used since `before`; the server's also per unit of work.
    // This process's own share shows whether the load generator kept up.
    // Busy is CPU time over the time passed: a process at 1.00 never waited
    // for the other, and its CPU per unit is then the time per unit, however
    // little of that time its own work would take.
    void AddCpu(Report& report, const CpuMark& before, std::uint64_t units, const std::string& per) {
        const CpuMark after = MarkCpu();
        const double wall = Seconds(after.wall_ns - before.wall_ns);
        if (before.server && after.server) {
            const double used = *after.server - *before.server;
            report.Add("server_cpu_s", used, 2);
            if (units > 0)
                report.Add("server_cpu_us_per_" + per, used * 1e6 / static_cast<double>(units), 3);
            if (wall > 0) report.Add("server_busy", used / wall, 2);
        }
        const double own = after.own - before.own;
        report.Add("client_cpu_s", own, 2);
        if (wall > 0) report.Add("client_busy", own / wall, 2);
    }

    // N clients each send M lines as fast as the server takes them: all in
    // one channel, or (--scenario channels) in channels of --channel-size.
    void FanOut() {
        Swarm& swarm = NewSwarm();
        LoginAll(swarm, options_.inflight);
        Settle(&swarm);
        total_ = static_cast<std::uint64_t>(options_.clients) * static_cast<std::uint64_t>(options_.lines);
        for (int id = 0; id < options_.clients; ++id)
            expected_ += static_cast<std::uint64_t>(options_.lines) * static_cast<std::uint64_t>(swarm.ReceiversOf(id));
        std::vector<int> left(static_cast<std::size_t>(options_.clients), options_.lines);
        int senders = options_.clients;
        phase_ = Phase::kChat;
        const CpuMark cpu = MarkCpu();
        const std::uint64_t start = NowNs();
        swarm.StartMeasuring();
        while (swarm.deliveries() < expected_) {
            bool progressed = false;
            for (int id = 0; senders > 0 && id < options_.clients; ++id) {
                int& mine = left[static_cast<std::size_t>(id)];
                if (mine == 0 || !swarm.SendChat(id, false)) continue;
                progressed = true;
                ++sent_;
                if (--mine == 0 && --senders == 0) Note("all lines sent");
            }
            swarm.Poll(progressed ? 0 : kMs);
        }
        const double elapsed = Seconds(swarm.last_delivery_ns() - start);
        Report report = Header();
        if (options_.swarm.channel_size > 0) report.Add("channel_size", options_.swarm.channel_size);
        report.Add("lines", options_.lines);
        report.Add("deliveries", static_cast<std::int64_t>(swarm.deliveries()));
        report.Add("seconds", elapsed, 3);
        report.Add("deliveries_per_s", static_cast<double>(swarm.deliveries()) / elapsed, 0);
        AddCpu(report, cpu, swarm.deliveries(), "delivery");
        AddLatencies(report, swarm.latencies_ns());
        report.Print();
    }

    // N clients take turns to send lines at a fixed total rate.
    void SteadyRate() {
        Swarm& swarm = NewSwarm();
        LoginAll(swarm, options_.inflight);
        Settle(&swarm);
        total_ = static_cast<std::uint64_t>(std::llround(options_.rate * options_.duration));
        expected_ = total_ * static_cast<std::uint64_t>(swarm.ReceiversOf(0));
        const double interval = kSecond / options_.rate;
        phase_ = Phase::kChat;
        const CpuMark cpu = MarkCpu();
        const std::uint64_t start = NowNs();
        std::uint64_t last_send = start;
        swarm.StartMeasuring();
        auto due = [&](std::uint64_t n) {
            return start + static_cast<std::uint64_t>(static_cast<double>(n) * interval);
        };
        while (sent_ < total_ || swarm.deliveries() < expected_) {
            const std::uint64_t now = NowNs();
            while (sent_ < total_ && due(sent_) <= now) {
                swarm.SendChat(static_cast<int>(sent_ % static_cast<std::uint64_t>(options_.clients)), true);
                ++sent_;
                last_send = now;
            }
            swarm.Poll(sent_ < total_ ? due(sent_) - std::min(due(sent_), NowNs()) : 50 * kMs);
        }
        Report report = Header();
        report.Add("rate", options_.rate, 0);
        report.Add("lines", static_cast<std::int64_t>(total_));
        report.Add("sent_per_s", static_cast<double>(total_ - 1) / Seconds(last_send - start), 0);
        report.Add("deliveries", static_cast<std::int64_t>(swarm.deliveries()));
        AddCpu(report, cpu, swarm.deliveries(), "delivery");
        AddLatencies(report, swarm.latencies_ns());
        report.Print();
    }

    // N clients log in and stay connected; reports the login rate.
    void Login() {
        Swarm& swarm = NewSwarm();
        Settle(nullptr);
        const CpuMark cpu = MarkCpu();
        const std::uint64_t start = NowNs();
        LoginAll(swarm, options_.inflight);
        const double elapsed = Seconds(NowNs() - start);
        std::vector<std::uint64_t> times;
        for (int id = 0; id < swarm.size(); ++id) times.push_back(swarm.LoginNs(id));
        Report report = Header();
        report.Add("inflight", options_.inflight <= 0 ? std::string("all") : std::to_string(options_.inflight));
        report.Add("seconds", elapsed, 3);
        report.Add("logins_per_s", options_.clients / elapsed, 1);
        AddCpu(report, cpu, static_cast<std::uint64_t>(options_.clients), "login");
        report.Add("retries", static_cast<std::int64_t>(swarm.retries()));
        report.Add("login_p50_ms", PercentileMs(times, 0.50), 3);
        report.Add("login_p99_ms", PercentileMs(times, 0.99), 3);
        report.Print();
    }

    // N clients log in, --inflight at a time, and stay in the main channel.
    // Every --step logins the time, the server's CPU time and the join
    // notices delivered so far are marked, so that the cost of a login can be
    // followed as the channel grows. Each login is announced to everyone in
    // the channel, the newcomer included: N(N+1)/2 notices in all.
    void Growth() {
        Swarm& swarm = NewSwarm();
        Settle(nullptr);
        LoginSteps steps;
        auto mark = [&] { steps.Mark({NowNs(), Cpu(), swarm.join_notices(), swarm.ready()}); };
        const CpuMark cpu = MarkCpu();
        const std::uint64_t start = NowNs();
        mark();
        LoginAll(swarm, options_.inflight, [&] {
            if (swarm.ready() % options_.step == 0 || swarm.ready() == swarm.size()) mark();
        });
        const double elapsed = Seconds(NowNs() - start);
        Report report = Header();
        report.Add("inflight", options_.inflight <= 0 ? std::string("all") : std::to_string(options_.inflight));
        report.Add("seconds", elapsed, 3);
        report.Add("logins_per_s", options_.clients / elapsed, 1);
        AddCpu(report, cpu, swarm.join_notices(), "notice");
        report.Add("retries", static_cast<std::int64_t>(swarm.retries()));
        // The notices still on their way when the last login completed.
        Settle(&swarm);
        const auto n = static_cast<std::uint64_t>(options_.clients);
        const bool joined = options_.protocol != Protocol::kIrc || options_.swarm.irc_join;
        report.Add("notices", static_cast<std::int64_t>(swarm.join_notices()));
        report.Add("notices_expected", static_cast<std::int64_t>(joined ? n * (n + 1) / 2 : 0));
        steps.AddTo(report);
        report.Print();
    }

    // N clients log in and then idle; reports the server's resident memory
    // growth per connection.
    void Idle() {
        if (options_.server_pid == 0) throw LoadError("the idle scenario needs --server-pid");
        Swarm& swarm = NewSwarm();
        Settle(nullptr);
        const auto before = RssKiB(options_.server_pid);
        LoginAll(swarm, options_.inflight);
        Settle(&swarm);
        const std::uint64_t start = NowNs();
        while (NowNs() - start < static_cast<std::uint64_t>(options_.settle * kSecond)) swarm.Poll(50 * kMs);
        const auto after = RssKiB(options_.server_pid);
        if (!before || !after) throw LoadError("cannot read the server's VmRSS");
        Report report = Header();
        report.Add("rss_base_kib", static_cast<std::int64_t>(*before));
        report.Add("rss_kib", static_cast<std::int64_t>(*after));
        report.Add("kib_per_conn", static_cast<double>(*after - *before) / options_.clients, 3);
        report.Print();
    }

    // N chat users in the bridged channel and M IRC clients in the linked
    // channel; lines cross the link both ways at --rate lines/s each way.
    // The link must join after the chat users are in (the IRC server started
    // after quillmootd): its memory is the daemon's growth from then on.
    void Bridge() {
        if (options_.server_pid == 0 || options_.irc_port == 0)
            throw LoadError("the bridge scenario needs --server-pid and --irc-port");
        Swarm& chat = NewBridgedChatSwarm();
        LoginAll(chat, options_.inflight);
        Settle(&chat);
        if (link_heard_) throw LoadError("the IRC link came up before the memory without it was read");
        const auto before = RssKiB(options_.server_pid);
        Swarm& irc = NewIrcSwarm();
        LoginAll(irc, options_.inflight);
        AwaitLink(chat, irc);
        const CpuMark cpu = MarkCpu();
        CrossTraffic(chat, irc);
        Report report = Header();
        report.Add("irc_clients", options_.irc_clients);
        report.Add("rate", options_.rate, 2);
        report.Add("lines", static_cast<std::int64_t>(total_));
        AddCpu(report, cpu, chat.deliveries() + irc.deliveries(), "delivery");
        report.Add("to_irc_deliveries", static_cast<std::int64_t>(irc.deliveries()));
        AddLatencies(report, irc.latencies_ns(), "to_irc_");
        report.Add("to_chat_deliveries", static_cast<std::int64_t>(chat.deliveries()));
        AddLatencies(report, chat.latencies_ns(), "to_chat_");
        Settle(&chat);
        AddLinkMemory(report, before);
        report.Print();
    }

    // The link's memory: the server's growth since `before`, which was read
    // before the link came up.
    void AddLinkMemory(Report& report, std::optional<long> before) const {
        const auto after = RssKiB(options_.server_pid);
        if (!before || !after) throw LoadError("cannot read the server's VmRSS");
        report.Add("rss_base_kib", static_cast<std::int64_t>(*before));
        report.Add("rss_kib", static_cast<std::int64_t>(*after));
        report.Add("link_kib", static_cast<std::int64_t>(*after - *before));
    }

    // Waits for the chat users to hear that the link has joined its channel,
    // then for the server to finish taking in the channel's members.
    void AwaitLink(Swarm& chat, Swarm& irc) {
        phase_ = Phase::kLink;
        while (!link_joined_) PollBoth(chat, irc, 50 * kMs);
        Note("link joined");
        Settle(&chat);
    }

    // One chat line and one IRC line every 1/rate s, the IRC side half a
    // period later, until --duration has passed and every line has arrived
    // at every receiver on the other side.
    void CrossTraffic(Swarm& chat, Swarm& irc) {
        total_ = static_cast<std::uint64_t>(std::llround(options_.rate * options_.duration));
        expected_ = total_ * static_cast<std::uint64_t>(irc.size());
        expected_to_chat_ = total_ * static_cast<std::uint64_t>(chat.size());
        const double period = kSecond / options_.rate;
        phase_ = Phase::kChat;
        chat.StartMeasuring();
        irc.StartMeasuring();
        const std::uint64_t start = NowNs();
        auto due = [&](std::uint64_t n, double shift) {
            return start + static_cast<std::uint64_t>((static_cast<double>(n) + shift) * period);
        };
        while (sent_ < total_ || irc_sent_ < total_ || irc.deliveries() < expected_ ||
               chat.deliveries() < expected_to_chat_) {
            const std::uint64_t now = NowNs();
            if (sent_ < total_ && due(sent_, 0) <= now)
                chat.SendChat(static_cast<int>(sent_++ % static_cast<std::uint64_t>(chat.size())), true);
            if (irc_sent_ < total_ && due(irc_sent_, 0.5) <= now)
                irc.SendChat(static_cast<int>(irc_sent_++ % static_cast<std::uint64_t>(irc.size())), true);
            std::uint64_t next = now + 50 * kMs;
            if (sent_ < total_) next = std::min(next, due(sent_, 0));
            if (irc_sent_ < total_) next = std::min(next, due(irc_sent_, 0.5));
            PollBoth(chat, irc, next - std::min(next, NowNs()));
        }
    }

    // How far the run got, for the message when it fails.
    std::string Progress() const {
        switch (phase_) {
        case Phase::kStart:
            return "";
        case Phase::kLogin:
            return std::to_string(logging_in_->ready()) + " of " + std::to_string(logging_in_->size()) +
                   " clients logged in, " + std::to_string(logging_in_->opened()) + " connected";
        case Phase::kSettle:
            return "waiting for the server to go quiet";
        case Phase::kLink:
            return "waiting for the IRC link to join its channel";
        case Phase::kChat:
            if (irc_swarm_) return BridgeProgress();
            return std::to_string(sent_) + " of " + std::to_string(total_) + " lines sent, " +
                   std::to_string(swarm_->deliveries()) + " of " + std::to_string(expected_) +
                   " deliveries received";
        }
        return "";
    }

private:
    enum class Phase { kStart, kLogin, kSettle, kLink, kChat };

    Swarm& NewSwarm(const SwarmConfig& config, int clients) {
        swarm_ = std::make_unique<Swarm>(config, clients);
        return *swarm_;
    }
    Swarm& NewSwarm() { return NewSwarm(options_.swarm, options_.clients); }

    // The chat side of the bridge: users who move to the bridged channel and
    // count only the lines the link relays from IRC.
    Swarm& NewBridgedChatSwarm() {
        SwarmConfig config = options_.swarm;
        config.move_to = kBridgedChannel;
        config.bridged = true;
        Swarm& chat = NewSwarm(config, options_.clients);
        chat.on_notice = [this](std::string_view line) {
            // The link tells the bridged channel when it connects and when it has joined.
            link_heard_ |= line.starts_with("I*R*C: Link");
            link_joined_ |= line.starts_with("I*R*C: Linked with");
        };
        return chat;
    }

    // The IRC side of the bridge: clients in the linked channel, counting
    // only the lines the link relays from the chat users.
    Swarm& NewIrcSwarm() {
        SwarmConfig config = options_.swarm;
        config.protocol = Protocol::kIrc;
        config.port = options_.irc_port;
        config.nick_prefix += "i";  // apart from the chat users' nicks in the relayed text
        config.bridged = true;
        irc_swarm_ = std::make_unique<Swarm>(config, options_.irc_clients);
        return *irc_swarm_;
    }

    std::string BridgeProgress() const {
        return std::to_string(sent_) + " chat and " + std::to_string(irc_sent_) + " IRC lines of " +
               std::to_string(total_) + " sent; " + std::to_string(irc_swarm_->deliveries()) + " of " +
               std::to_string(expected_) + " deliveries on IRC and " + std::to_string(swarm_->deliveries()) +
               " of " + std::to_string(expected_to_chat_) + " in the chat received";
    }

    const Options& options_;
    const std::uint64_t started_ = NowNs();
    std::unique_ptr<Swarm> swarm_;
    std::unique_ptr<Swarm> irc_swarm_;
    const Swarm* logging_in_ = nullptr;
    Phase phase_ = Phase::kStart;
    std::uint64_t sent_ = 0;
    std::uint64_t total_ = 0;
    std::uint64_t expected_ = 0;
    // The bridge: lines sent by the IRC side, deliveries due in the chat,
    // and what the chat users have heard of the link.
    std::uint64_t irc_sent_ = 0;
    std::uint64_t expected_to_chat_ = 0;
    bool link_heard_ = false;
    bool link_joined_ = false;
};

int Run(int argc, char** argv) {
    Options options;
    CLI::App app{"Load generator for chat servers on 127.0.0.1 (Quillmoot line protocol or IRC)"};
    app.add_option("--scenario", options.scenario,
                   "fanout: every client sends --lines lines as fast as it can; "
                   "rate: --rate lines/s in total for --duration s; "
                   "login: log --clients in, --inflight at a time; "
                   "idle: server memory per logged-in idle client; "
                   "channels: fanout in channels of --channel-size; "
                   "growth: log --clients in, --inflight at a time, reporting every --step logins; "
                   "bridge: chat users in \"IRC\" and IRC clients exchange --rate lines/s each way "
                   "through quillmootd's IRC link")
        ->required()
        ->check(CLI::IsMember({"fanout", "channels", "rate", "login", "growth", "idle", "bridge"}));
    std::map<std::string, Protocol> protocols{{"quillmoot", Protocol::kQuillmoot}, {"irc", Protocol::kIrc}};
    app.add_option("--proto", options.protocol, "quillmoot or irc")
        ->transform(CLI::CheckedTransformer(protocols, CLI::ignore_case));
    app.add_option("--port", options.swarm.port, "server port on 127.0.0.1")->required();
    app.add_option("--clients", options.clients, "number of clients")->check(CLI::Range(1, 1'000'000));
    app.add_option("--lines", options.lines, "fanout: lines each client sends")->check(CLI::PositiveNumber);
    app.add_option("--rate", options.rate, "rate: lines per second, all clients together; bridge: each way")
        ->check(CLI::PositiveNumber);
    app.add_option("--duration", options.duration, "rate, bridge: seconds of sending")->check(CLI::PositiveNumber);
    app.add_option("--irc-port", options.irc_port, "bridge: port of the IRC server the link is on, on 127.0.0.1");
    app.add_option("--irc-clients", options.irc_clients, "bridge: IRC clients in the linked channel")
        ->check(CLI::Range(1, 1'000'000));
    app.add_option("--channel-size", options.channel_size, "channels: clients per channel")
        ->check(CLI::Range(1, 1'000'000));
    app.add_option("--step", options.step, "growth: logins per step of the report")->check(CLI::Range(1, 1'000'000));
    app.add_option("--inflight", options.inflight, "logins under way at once; 0 = all at once")->check(CLI::NonNegativeNumber);
    app.add_option("--server-pid", options.server_pid, "server process, for CPU time and memory");
    app.add_option("--timeout", options.timeout, "give up after this many seconds")->check(CLI::PositiveNumber);
    app.add_option("--settle", options.settle, "idle: extra seconds before reading memory");
    app.add_option("--join-marker", options.swarm.join_marker, "quillmoot: text after the nick in the join notice");
    app.add_option("--nick-prefix", options.swarm.nick_prefix, "nicks are this prefix and the client number");
    app.add_option("--channel", options.swarm.channel, "irc: channel to join");
    app.add_option("--payload-bytes", options.swarm.payload_bytes, "chat text length");
    bool no_join = false;
    app.add_flag("--no-join", no_join, "irc: register only, join no channel");
    app.add_flag("--verbose", options.verbose, "report the end of each phase on stderr");
    CLI11_PARSE(app, argc, argv);
    options.swarm.protocol = options.protocol;
    options.swarm.irc_join = !no_join;
    if (options.scenario == "channels") options.swarm.channel_size = options.channel_size;

    signal(SIGPIPE, SIG_IGN);
    const long fds = RaiseFdLimit();
    const int irc_clients = options.scenario == "bridge" ? options.irc_clients : 0;
    if (fds < options.clients + irc_clients + 16)
        throw LoadError("open-files limit " + std::to_string(fds) + " is too low for " +
                        std::to_string(options.clients) + " clients (raise ulimit -n)");
    options.swarm.deadline_ns = NowNs() + static_cast<std::uint64_t>(options.timeout * kSecond);

    Scenario scenario(options);
    try {
        if (options.scenario == "fanout" || options.scenario == "channels") scenario.FanOut();
        else if (options.scenario == "rate") scenario.SteadyRate();
        else if (options.scenario == "login") scenario.Login();
        else if (options.scenario == "growth") scenario.Growth();
        else if (options.scenario == "bridge") scenario.Bridge();
        else scenario.Idle();
    } catch (const LoadError& e) {
        const std::string progress = scenario.Progress();
        throw LoadError(options.scenario + ": " + e.what() + (progress.empty() ? "" : "; " + progress));
    }
    return 0;
}

}  // namespace
}  // namespace qm::bench

int main(int argc, char** argv) {
    try {
        return qm::bench::Run(argc, argv);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "qm_load: error: %s\n", e.what());
        return 1;
    }
}
