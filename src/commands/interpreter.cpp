#include "commands/interpreter.h"

#include "commands/dispatch_table.h"
#include "commands/login.h"
#include "commands/routing.h"

namespace qm {

void ProcessData(ChatState& state, TTcpSrvClient& client) {
    // Its departure has been announced already (/quit, /kill).
    if (client.DepartureAnnounced) return;
    if (client.AwaitingNick) {
        HandleNicknameLine(state, client);
    } else if (client.AwaitingLoginPassword) {
        HandleLoginPassword(state, client);
    } else if (client.AwaitingNickPassword) {
        HandleNickChangePassword(state, client);
    } else if (const CommandRow* row = FindCommand(client.ReceivedLine)) {
        if (HasRole(client, row->role)) {
            row->handler(state, client, CommandArgument(*row, client.ReceivedLine));
        } else {
            // Exactly like a line that matches no command; the attempt is logged.
            Reply(state, client, " No such command.\r\n");
            state.log.Add(client.PeerAddr + ": " + client.Nick + std::string(row->refusal));
        }
    } else if (!client.ReceivedLine.empty() && client.ReceivedLine.front() == '/') {
        Reply(state, client, " No such command.\r\n");
    } else {
        RouteOrdinaryLine(state, client);
    }
    std::string().swap(client.ReceivedLine);
}

}  // namespace qm
