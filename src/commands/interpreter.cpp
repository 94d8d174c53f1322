#include "commands/interpreter.h"

#include "commands/dispatch_table.h"
#include "commands/login.h"
#include "commands/routing.h"

namespace qm {

void ProcessData(ChatState& state, TTcpSrvClient& client, std::string_view line) {
    // Its departure has been announced already (/quit, /kill).
    if (client.DepartureAnnounced) return;
    if (client.AwaitingNick) {
        HandleNicknameLine(state, client, line);
    } else if (client.AwaitingLoginPassword) {
        HandleLoginPassword(state, client, line);
    } else if (client.AwaitingNickPassword) {
        HandleNickChangePassword(state, client, line);
    } else if (const CommandRow* row = FindCommand(line)) {
        if (HasRole(client, row->role)) {
            row->handler(state, client, CommandArgument(*row, line));
        } else {
            // Exactly like a line that matches no command; the attempt is logged.
            Reply(state, client, " No such command.\r\n");
            state.log.Add(client.PeerAddr + ": " + client.Nick() + std::string(row->refusal));
        }
    } else if (!line.empty() && line.front() == '/') {
        Reply(state, client, " No such command.\r\n");
    } else {
        RouteOrdinaryLine(state, client, line);
    }
}

}  // namespace qm
