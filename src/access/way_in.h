#pragma once
// A way into the chat: what a connection accepted on its port becomes. The
// listener knows only the way; the way knows only how to turn a socket
// into a terminal session.
#include <boost/asio/ip/tcp.hpp>
#include <memory>
#include <string_view>

#include "terminal/terminal_session.h"

namespace qm {

class OutputScheduler;

class WayIn {
public:
    virtual ~WayIn() = default;
    // "telnet", "tls": the label of its sessions and listeners in the log.
    virtual std::string_view Label() const = 0;
    // A session on an accepted connection, not started yet.
    virtual std::shared_ptr<TerminalSession> Open(OutputScheduler& scheduler,
                                                  boost::asio::ip::tcp::socket socket) = 0;
};

}  // namespace qm
