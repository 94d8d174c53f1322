#include "access/telnet_ways.h"

namespace qm {

std::shared_ptr<TerminalSession> TelnetWay::Open(OutputScheduler& scheduler, boost::asio::ip::tcp::socket socket) {
    return std::make_shared<TelnetSession>(scheduler, std::move(socket));
}

std::shared_ptr<TerminalSession> TlsTelnetWay::Open(OutputScheduler& scheduler, boost::asio::ip::tcp::socket socket) {
    return std::make_shared<TelnetSession>(scheduler, std::move(socket), std::make_unique<TlsFilter>(context_));
}

}  // namespace qm
