#pragma once
// A swarm of chat clients on one epoll loop: each logs in, joins the channel
// and then sends and receives time-stamped chat lines.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace qm::bench {

enum class Protocol { kQuillmoot, kIrc };

// Anything that makes a measurement meaningless: a refused or dropped
// connection, a rejected login, the deadline passing.
class LoadError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct SwarmConfig {
    Protocol protocol = Protocol::kQuillmoot;
    std::uint16_t port = 0;
    std::string nick_prefix = "nick";
    // Text that follows "<nick> " in the notice that completes a login.
    std::string join_marker = "has joined";
    // Quillmoot: a channel to move to after the login ("/j"); the client is
    // ready once the notice of its own departure from the main channel,
    // "<nick> <part_marker>", arrives. Empty: stay in the main channel.
    std::string move_to;
    std::string part_marker = "has left";
    std::string channel = "#bench";
    // Clients per channel: when above 0, client n goes to channel "c<k>",
    // k = n / channel_size, after its login (Quillmoot "/j c<k>", IRC
    // "JOIN #c<k>") instead of move_to or channel.
    int channel_size = 0;
    // IRC clients join the channel after registering; without it they only register.
    bool irc_join = true;
    std::size_t payload_bytes = 64;
    // Count only chat lines that crossed an IRC link: their text is
    // "[nick] " before the time stamp. Lines sent directly are then ignored.
    bool bridged = false;
    std::uint64_t deadline_ns = 0;  // NowNs() value after which Poll throws
};

class Swarm {
public:
    Swarm(SwarmConfig config, int clients);
    ~Swarm();
    Swarm(const Swarm&) = delete;
    Swarm& operator=(const Swarm&) = delete;

    int size() const { return static_cast<int>(conns_.size()); }
    // Starts connecting client `id`; it logs in by itself as data arrives.
    void Open(int id);
    // Opens every client and returns once all are logged in, keeping at most
    // `inflight` logins under way (all at once when it is 0). Uses on_ready;
    // `after_each` runs after every login that completes.
    void LogInAll(int inflight, const std::function<void()>& after_each = {});
    // Waits up to `max_wait_ns` for socket events and handles them all.
    void Poll(std::uint64_t max_wait_ns);

    int opened() const { return opened_; }
    // Connections a server reset or refused before the login was complete,
    // and which were opened again (a listen queue that overflows does that).
    int retries() const { return retries_; }
    // Opens again every connection that has heard nothing from the server
    // for `silence_ns` since it was opened: a handshake whose last packet the
    // server dropped when its listen queue was full never comes alive.
    void RetrySilent(std::uint64_t silence_ns);
    int ready() const { return ready_; }
    bool IsReady(int id) const;
    // Login time of a ready client: from Open to the login being complete.
    std::uint64_t LoginNs(int id) const;
    // Called once for each client whose login completes.
    std::function<void(int id)> on_ready;
    // Called with every line a logged-in Quillmoot client receives that is
    // not chat (server notices).
    std::function<void(std::string_view line)> on_notice;
    // The epoll descriptor: readable when Poll has events to handle, so that
    // one wait can cover several swarms.
    int poll_fd() const { return epoll_fd_; }

    // Sends one chat line stamped with the current time. Unless `force`, a
    // client whose earlier output is still unsent sends nothing (and false
    // is returned), so that a fast sender cannot queue without bound.
    bool SendChat(int id, bool force);
    // Receivers of one chat line client `id` sends: the members of its
    // channel, less the sender on IRC, whose servers do not echo it.
    int ReceiversOf(int id) const;
    // Join notices received by the clients, each client's own included:
    // Quillmoot lines holding the join marker, IRC JOIN messages.
    std::uint64_t join_notices() const { return join_notices_; }

    // From here on every chat line received counts as a delivery.
    void StartMeasuring();
    std::uint64_t deliveries() const { return deliveries_; }
    std::uint64_t last_delivery_ns() const { return last_delivery_ns_; }
    std::uint64_t last_receive_ns() const { return last_receive_ns_; }
    std::vector<std::uint64_t>& latencies_ns() { return latencies_ns_; }

private:
    enum class State { kConnecting, kGreeting, kRegistering, kJoining, kMoving, kReady };
    struct Conn {
        int fd = -1;
        State state = State::kConnecting;
        std::string nick;
        std::string partial;  // received bytes after the last line end
        std::string out;      // bytes not yet accepted by the socket
        std::size_t out_sent = 0;
        int telnet_skip = 0;  // bytes of a telnet command still to drop
        std::uint64_t opened_ns = 0;
        std::uint64_t ready_ns = 0;
        std::string last_line;  // for error messages
        int retries = 0;
        std::uint64_t attempt_ns = 0;  // when this connection was opened
        bool heard = false;            // anything received on it yet
    };

    void OnWritable(Conn& c);
    // Opens the connection of a client again after a reset during its login;
    // fails after a few attempts.
    void Retry(Conn& c, std::string_view what);
    void OnReadable(Conn& c);
    std::size_t StripTelnet(Conn& c, char* data, std::size_t size);
    void HandleLine(Conn& c, std::string_view line, std::uint64_t now);
    void HandleQuillmootLine(Conn& c, std::string_view line, std::uint64_t now);
    void HandleIrcLine(Conn& c, std::string_view line, std::uint64_t now);
    void CheckPrompt(Conn& c);
    void CountChat(std::string_view text, std::uint64_t now);
    void CountPayload(std::string_view payload, std::uint64_t now);
    void MarkReady(Conn& c);
    void Send(Conn& c, std::string_view bytes);
    void Flush(Conn& c);
    [[noreturn]] void Fail(const Conn& c, std::string_view what) const;
    int IdOf(const Conn& c) const { return static_cast<int>(&c - conns_.data()); }
    // Where client `id` chats once logged in: the IRC channel it joins, or
    // the Quillmoot channel it moves to (empty: it stays in the main one).
    std::string ChannelOf(int id) const;

    SwarmConfig config_;
    int epoll_fd_ = -1;
    std::vector<Conn> conns_;
    std::vector<char> buffer_;
    std::string line_;  // scratch for outgoing chat lines
    int opened_ = 0;
    int ready_ = 0;
    int retries_ = 0;
    bool measuring_ = false;
    std::uint64_t deliveries_ = 0;
    std::uint64_t join_notices_ = 0;
    std::uint64_t last_delivery_ns_ = 0;
    std::uint64_t last_receive_ns_ = 0;
    std::vector<std::uint64_t> latencies_ns_;
};

}  // namespace qm::bench
