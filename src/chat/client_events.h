#pragma once
// What a terminal client's connection tells the chat server.
#include <string>

namespace qm {

class TTcpSrvClient;

class ClientEvents {
public:
    virtual ~ClientEvents() = default;
    // One edited line, without its line end.
    virtual void OnClientLine(TTcpSrvClient& client, std::string line) = 0;
    // The connection has closed. `partial` is the unterminated line the peer
    // left behind when it closed (empty when there was none or this side
    // asked to close).
    virtual void OnClientClosed(TTcpSrvClient& client, std::string partial) = 0;
    // The peer stopped reading and too much output waits; it is dropped next.
    virtual void OnClientOverflow(TTcpSrvClient& client) = 0;
};

}  // namespace qm
