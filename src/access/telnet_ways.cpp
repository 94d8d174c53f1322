#include "access/telnet_ways.h"

#include "access/telnet_session.h"

namespace qm {

std::shared_ptr<TerminalSession> TelnetWay::Open(OutputScheduler& scheduler, boost::asio::ip::tcp::socket socket,
                                                 std::string peerAddr, std::string peerPort) {
    return std::make_shared<TelnetSession>(scheduler, std::move(socket), std::move(peerAddr), std::move(peerPort),
                                           Label());
}

std::shared_ptr<TerminalSession> TlsTelnetWay::Open(OutputScheduler& scheduler, boost::asio::ip::tcp::socket socket,
                                                    std::string peerAddr, std::string peerPort) {
    return std::make_shared<TelnetSession>(scheduler, std::move(socket), std::move(peerAddr), std::move(peerPort),
                                           Label(), std::make_unique<TlsFilter>(context_));
}

}  // namespace qm
