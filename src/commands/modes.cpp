#include "commands/modes.h"

#include <string>

#include "commands/game.h"

namespace qm {

void CmdAway(ChatState& state, TTcpSrvClient& client, std::string_view text) {
    // A text given while away is dropped: the command only ends the away state.
    if (client.Away) {
        Reply(state, client, " You are no longer away.\r\n");
        client.Away = false;
        client.AwayMessage.clear();
        return;
    }
    client.AwayMessage = text;
    client.Away = true;
    Reply(state, client, " You are now away.\r\n");
}

void CmdInvisible(ChatState& state, TTcpSrvClient& client, std::string_view) {
    client.Invisible = !client.Invisible;
    Reply(state, client, client.Invisible ? " Invisible mode enabled.\r\n" : " Invisible mode disabled.\r\n");
}

void CmdEcho(ChatState& state, TTcpSrvClient& client, std::string_view) {
    const bool on = !client.LineEcho();
    // The telnet echo option follows once the line has been handled.
    client.SetLineEcho(on);
    Reply(state, client, on ? " Echo enabled.\r\n" : " Echo disabled.\r\n");
    // A registered user keeps the choice for the next login.
    const int record = state.users.FindUserRecord(client.Nick());
    if (record >= 0) state.users.SetRecordLine(record, UserDatabase::kEcho, on ? "Y" : "N");
}

void CmdQuery(ChatState& state, TTcpSrvClient& client, std::string_view nick) {
    if (nick.size() <= 1) {
        client.QueryMode = false;
        client.QueryTarget.clear();
        Reply(state, client, " Query disabled.\r\n");
        return;
    }
    bool found = false;
    state.clients.ForEachRecipientDown(nick, [&](TTcpSrvClient&) {
        found = true;
        Reply(state, client, " Beginning query with " + std::string(nick) + "\r\n");
        client.QueryMode = true;
        // Kept as typed: routing compares it without letter case.
        client.QueryTarget = nick;
    });
    if (!found) Reply(state, client, " User is not online.\r\n");
}

void CmdQuit(ChatState& state, TTcpSrvClient& client, std::string_view reason) {
    client.CloseDelayed();
    if (client.InGame) {
        AbortGame(state, client);
        // The game is over for both: the disconnect that follows must not
        // send the opponent a second "ERR".
        client.InGame = false;
        client.AuxNick.clear();
    }
    state.link.Announce("*** " + client.Nick() + " has quit.");
    const std::string notice =
        state.settings.Prefix + " " + client.Nick() + " " + state.settings.Quit + " (" + std::string(reason) + ")\r\n";
    state.clients.SendDepartureNotice(client, notice, ClientList::Departure::kAnnounced);
    // The notice above is the departure notice; later lines are ignored.
    client.DepartureAnnounced = true;
}

}  // namespace qm
