#include "load_swarm.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <utility>

#include "load_proc.h"

namespace qm::bench {
namespace {

constexpr std::size_t kReadBuffer = 256 * 1024;
constexpr std::size_t kMaxLine = 64 * 1024;
constexpr std::string_view kPrompt = "Nickname:";

const char* StateName(int state) {
    static const char* const kNames[] = {"connecting", "waiting for the nickname prompt",
                                         "registering", "joining", "moving to the channel",
                                         "logged in"};
    return kNames[state];
}

bool IsNickChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           c == '_' || c == '-';
}

// True when `line` holds `nick` as a whole word followed by " <marker>".
bool Announces(std::string_view line, std::string_view nick, std::string_view marker) {
    for (auto at = line.find(nick); at != std::string_view::npos; at = line.find(nick, at + 1)) {
        if (at > 0 && IsNickChar(line[at - 1])) continue;
        auto rest = line.substr(at + nick.size());
        if (rest.size() > marker.size() && rest[0] == ' ' && rest.substr(1, marker.size()) == marker)
            return true;
    }
    return false;
}

}  // namespace

Swarm::Swarm(SwarmConfig config, int clients)
    : config_(std::move(config)), conns_(static_cast<std::size_t>(clients)), buffer_(kReadBuffer) {
    epoll_fd_ = epoll_create1(EPOLL_CLOEXEC);
    if (epoll_fd_ < 0) throw LoadError(std::string("epoll_create1: ") + std::strerror(errno));
    for (int id = 0; id < clients; ++id)
        conns_[static_cast<std::size_t>(id)].nick = config_.nick_prefix + std::to_string(id);
}

Swarm::~Swarm() {
    // Reset instead of a normal close: thousands of sockets in TIME_WAIT
    // would otherwise hold local ports that the next run needs.
    const linger reset{1, 0};
    for (auto& c : conns_) {
        if (c.fd < 0) continue;
        setsockopt(c.fd, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
        close(c.fd);
    }
    if (epoll_fd_ >= 0) close(epoll_fd_);
}

void Swarm::Open(int id) {
    Conn& c = conns_.at(static_cast<std::size_t>(id));
    c.fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (c.fd < 0) Fail(c, std::string("socket: ") + std::strerror(errno));
    const int one = 1;
    setsockopt(c.fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(config_.port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    c.opened_ns = c.attempt_ns = NowNs();
    if (connect(c.fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) < 0 &&
        errno != EINPROGRESS)
        Fail(c, std::string("connect: ") + std::strerror(errno));
    epoll_event ev{};
    ev.events = EPOLLIN | EPOLLOUT | EPOLLRDHUP | EPOLLET;
    ev.data.u32 = static_cast<std::uint32_t>(id);
    if (epoll_ctl(epoll_fd_, EPOLL_CTL_ADD, c.fd, &ev) < 0)
        Fail(c, std::string("epoll_ctl: ") + std::strerror(errno));
    ++opened_;
}

void Swarm::LogInAll(int inflight, const std::function<void()>& after_each) {
    int next = 0;
    auto open_more = [&] {
        while (next < size() && (inflight <= 0 || next - ready() < inflight)) Open(next++);
    };
    on_ready = [&](int) {
        if (after_each) after_each();
        open_more();
    };
    open_more();
    constexpr std::uint64_t kSecond = 1'000'000'000;
    std::uint64_t next_check = NowNs() + kSecond;
    while (ready() < size()) {
        Poll(kSecond / 20);
        if (NowNs() >= next_check) {
            RetrySilent(10 * kSecond);
            next_check = NowNs() + kSecond;
        }
    }
    on_ready = nullptr;
}

void Swarm::Poll(std::uint64_t max_wait_ns) {
    const std::uint64_t now = NowNs();
    if (config_.deadline_ns != 0) {
        if (now >= config_.deadline_ns) throw LoadError("time limit reached");
        max_wait_ns = std::min(max_wait_ns, config_.deadline_ns - now);
    }
    epoll_event events[1024];
    timespec wait{static_cast<time_t>(max_wait_ns / 1'000'000'000u),
                  static_cast<long>(max_wait_ns % 1'000'000'000u)};
    int n = epoll_pwait2(epoll_fd_, events, 1024, &wait, nullptr);
    if (n < 0 && errno == ENOSYS)  // kernels before 5.11: millisecond resolution
        n = epoll_wait(epoll_fd_, events, 1024,
                       static_cast<int>((max_wait_ns + 999'999u) / 1'000'000u));
    if (n < 0) {
        if (errno == EINTR) return;
        throw LoadError(std::string("epoll_wait: ") + std::strerror(errno));
    }
    for (int i = 0; i < n; ++i) {
        Conn& c = conns_[events[i].data.u32];
        if (events[i].events & (EPOLLOUT | EPOLLERR)) OnWritable(c);
        if (events[i].events & (EPOLLIN | EPOLLRDHUP | EPOLLHUP | EPOLLERR)) OnReadable(c);
    }
}

bool Swarm::IsReady(int id) const {
    return conns_.at(static_cast<std::size_t>(id)).state == State::kReady;
}

std::uint64_t Swarm::LoginNs(int id) const {
    const Conn& c = conns_.at(static_cast<std::size_t>(id));
    return c.ready_ns - c.opened_ns;
}

int Swarm::ReceiversOf(int id) const {
    int members = size();
    if (config_.channel_size > 0) {
        const int first = id / config_.channel_size * config_.channel_size;
        members = std::min(size(), first + config_.channel_size) - first;
    }
    return config_.protocol == Protocol::kIrc ? members - 1 : members;
}

std::string Swarm::ChannelOf(int id) const {
    const bool irc = config_.protocol == Protocol::kIrc;
    if (config_.channel_size > 0) return (irc ? "#c" : "c") + std::to_string(id / config_.channel_size);
    return irc ? config_.channel : config_.move_to;
}

void Swarm::StartMeasuring() {
    measuring_ = true;
    deliveries_ = 0;
    last_delivery_ns_ = 0;
    latencies_ns_.clear();
}

bool Swarm::SendChat(int id, bool force) {
    Conn& c = conns_.at(static_cast<std::size_t>(id));
    if (c.state != State::kReady) Fail(c, "chat before login");
    if (!force && c.out_sent < c.out.size()) return false;
    line_.clear();
    if (config_.protocol == Protocol::kIrc) line_ += "PRIVMSG " + ChannelOf(id) + " :";
    const std::size_t start = line_.size();
    char stamp[24];
    auto [end, ec] = std::to_chars(stamp, stamp + sizeof stamp, NowNs());
    line_ += 'T';
    line_.append(stamp, end);
    line_ += ' ';
    if (line_.size() - start < config_.payload_bytes)
        line_.append(config_.payload_bytes - (line_.size() - start), 'x');
    line_ += "\r\n";
    Send(c, line_);
    return true;
}

void Swarm::OnWritable(Conn& c) {
    if (c.state == State::kConnecting) {
        int error = 0;
        socklen_t len = sizeof error;
        getsockopt(c.fd, SOL_SOCKET, SO_ERROR, &error, &len);
        if (error == EINPROGRESS || error == EALREADY) return;
        if (error == ECONNREFUSED || error == ECONNRESET)
            return Retry(c, std::string("connect: ") + std::strerror(error));
        if (error != 0) Fail(c, std::string("connect: ") + std::strerror(error));
        if (config_.protocol == Protocol::kQuillmoot) {
            c.state = State::kGreeting;
        } else {
            c.state = State::kRegistering;
            Send(c, "NICK " + c.nick + "\r\nUSER " + c.nick + " 0 * :load\r\n");
        }
        return;
    }
    Flush(c);
}

void Swarm::OnReadable(Conn& c) {
    if (c.state == State::kConnecting) return;  // the EPOLLOUT side reports the outcome
    for (;;) {
        const std::size_t kept = c.partial.size();
        std::memcpy(buffer_.data(), c.partial.data(), kept);
        const ssize_t got = read(c.fd, buffer_.data() + kept, buffer_.size() - kept);
        if (got == 0) return Retry(c, "the server closed the connection");
        if (got < 0) {
            if (errno == EAGAIN) return;
            if (errno == EINTR) continue;
            if (errno == ECONNRESET) return Retry(c, std::string("read: ") + std::strerror(errno));
            Fail(c, std::string("read: ") + std::strerror(errno));
        }
        const std::uint64_t now = NowNs();
        last_receive_ns_ = now;
        c.heard = true;
        std::size_t size = static_cast<std::size_t>(got);
        if (config_.protocol == Protocol::kQuillmoot)
            size = StripTelnet(c, buffer_.data() + kept, size);
        char* begin = buffer_.data();
        char* const end = begin + kept + size;
        while (char* eol = static_cast<char*>(std::memchr(begin, '\n', end - begin))) {
            std::size_t len = eol - begin;
            if (len > 0 && begin[len - 1] == '\r') --len;
            HandleLine(c, {begin, len}, now);
            begin = eol + 1;
        }
        c.partial.assign(begin, end);
        if (c.partial.size() > kMaxLine) Fail(c, "line longer than 64 KiB");
        if (config_.protocol == Protocol::kQuillmoot && c.state != State::kReady) CheckPrompt(c);
    }
}

void Swarm::RetrySilent(std::uint64_t silence_ns) {
    const std::uint64_t now = NowNs();
    for (auto& c : conns_) {
        if (c.fd >= 0 && !c.heard && c.state != State::kReady && now - c.attempt_ns > silence_ns)
            Retry(c, "no answer from the server");
    }
}

void Swarm::Retry(Conn& c, std::string_view what) {
    constexpr int kMaxRetries = 5;
    if (c.state == State::kReady || c.retries >= kMaxRetries) Fail(c, what);
    const linger reset{1, 0};
    setsockopt(c.fd, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
    close(c.fd);  // also leaves the epoll set
    const std::uint64_t first_try = c.opened_ns;
    const int retries = c.retries + 1;
    const std::string nick = std::move(c.nick);
    c = Conn{};
    c.nick = nick;
    c.retries = retries;
    ++retries_;
    --opened_;
    Open(IdOf(c));
    c.opened_ns = first_try;  // the login time includes the failed attempts
}

std::size_t Swarm::StripTelnet(Conn& c, char* data, std::size_t size) {
    // Negotiation arrives as three-byte commands (IAC, verb, option); none of
    // it matters to a client that takes whatever the server offers.
    if (c.telnet_skip == 0 && !std::memchr(data, 0xFF, size)) return size;
    std::size_t kept = 0;
    for (std::size_t i = 0; i < size; ++i) {
        if (c.telnet_skip > 0) {
            --c.telnet_skip;
        } else if (static_cast<unsigned char>(data[i]) == 0xFF) {
            c.telnet_skip = 2;
        } else {
            data[kept++] = data[i];
        }
    }
    return kept;
}

void Swarm::CheckPrompt(Conn& c) {
    // The nickname prompt ends without a line end.
    if (c.partial.find(kPrompt) == std::string::npos) return;
    c.last_line = c.partial;
    c.partial.clear();
    if (c.state != State::kGreeting) Fail(c, "the server asked for the nickname again");
    c.state = State::kJoining;
    Send(c, c.nick + "\r\n");
}

void Swarm::HandleLine(Conn& c, std::string_view line, std::uint64_t now) {
    if (config_.protocol == Protocol::kQuillmoot)
        HandleQuillmootLine(c, line, now);
    else
        HandleIrcLine(c, line, now);
}

void Swarm::HandleQuillmootLine(Conn& c, std::string_view line, std::uint64_t now) {
    if (c.state == State::kReady) {
        // Chat arrives as "<nick> text", lines from IRC as "[ircnick] text";
        // the server's echo of what this client typed is neither.
        if (line.starts_with('<') || line.starts_with('[')) return CountChat(line, now);
        if (line.find(config_.join_marker) != std::string_view::npos) ++join_notices_;
        if (on_notice) on_notice(line);
        return;
    }
    c.last_line.assign(line);
    if (c.state == State::kGreeting && line.find(kPrompt) != std::string_view::npos) {
        c.state = State::kJoining;
        Send(c, c.nick + "\r\n");
    } else if (c.state == State::kJoining && Announces(line, c.nick, config_.join_marker)) {
        ++join_notices_;
        const std::string target = ChannelOf(IdOf(c));
        if (target.empty()) return MarkReady(c);
        c.state = State::kMoving;
        Send(c, "/j " + target + "\r\n");
    } else if (c.state == State::kMoving && Announces(line, c.nick, config_.part_marker)) {
        MarkReady(c);
    }
}

void Swarm::HandleIrcLine(Conn& c, std::string_view line, std::uint64_t now) {
    if (line.starts_with("PING")) {
        Send(c, "PONG" + std::string(line.substr(4)) + "\r\n");
        return;
    }
    if (line.starts_with("ERROR")) {
        c.last_line.assign(line);
        Fail(c, "the server sent ERROR");
    }
    if (line.empty() || line[0] != ':') return;
    const auto command_at = line.find(' ');
    if (command_at == std::string_view::npos) return;
    const auto rest = line.substr(command_at + 1);
    if (rest.starts_with("PRIVMSG ")) {
        const auto text = rest.find(" :");
        if (text == std::string_view::npos || c.state != State::kReady) return;
        if (config_.bridged)
            CountChat(rest.substr(text + 2), now);
        else
            CountPayload(rest.substr(text + 2), now);
        return;
    }
    if (rest.starts_with("JOIN ")) ++join_notices_;
    if (c.state == State::kReady) return;
    c.last_line.assign(line);
    if (rest.starts_with("001 ")) {
        if (config_.irc_join) {
            c.state = State::kJoining;
            Send(c, "JOIN " + ChannelOf(IdOf(c)) + "\r\n");
        } else {
            MarkReady(c);
        }
    } else if (rest.starts_with("366 ") && c.state == State::kJoining) {
        MarkReady(c);
    } else if (rest.starts_with("4") || rest.starts_with("5")) {
        Fail(c, "the server refused the login");
    }
}

void Swarm::CountChat(std::string_view text, std::uint64_t now) {
    // A line that crossed the IRC link names its author in brackets; one
    // from this server in angle brackets.
    const std::string_view open = config_.bridged ? "[" : "<";
    const std::string_view close = config_.bridged ? "] " : "> ";
    if (!text.starts_with(open)) return;
    const auto end = text.find(close);
    if (end != std::string_view::npos) CountPayload(text.substr(end + close.size()), now);
}

void Swarm::CountPayload(std::string_view payload, std::uint64_t now) {
    if (!measuring_ || payload.size() < 2 || payload[0] != 'T') return;
    std::uint64_t sent = 0;
    auto [end, ec] = std::from_chars(payload.data() + 1, payload.data() + payload.size(), sent);
    if (ec != std::errc{} || sent > now) return;
    ++deliveries_;
    last_delivery_ns_ = now;
    latencies_ns_.push_back(now - sent);
}

void Swarm::MarkReady(Conn& c) {
    c.state = State::kReady;
    c.ready_ns = NowNs();
    ++ready_;
    if (on_ready) on_ready(IdOf(c));
}

void Swarm::Send(Conn& c, std::string_view bytes) {
    if (c.out_sent == c.out.size()) {
        c.out.clear();
        c.out_sent = 0;
    }
    c.out.append(bytes);
    Flush(c);
}

void Swarm::Flush(Conn& c) {
    while (c.out_sent < c.out.size()) {
        const ssize_t put =
            send(c.fd, c.out.data() + c.out_sent, c.out.size() - c.out_sent, MSG_NOSIGNAL);
        if (put < 0) {
            if (errno == EAGAIN) return;  // EPOLLOUT resumes it
            if (errno == EINTR) continue;
            Fail(c, std::string("send: ") + std::strerror(errno));
        }
        c.out_sent += static_cast<std::size_t>(put);
    }
    c.out.clear();
    c.out_sent = 0;
}

void Swarm::Fail(const Conn& c, std::string_view what) const {
    std::string message = "client " + std::to_string(IdOf(c)) + " (" + c.nick + ", " +
                          StateName(static_cast<int>(c.state)) + "): " + std::string(what);
    if (!c.last_line.empty()) message += "; last line from the server: \"" + c.last_line + "\"";
    throw LoadError(message);
}

}  // namespace qm::bench
