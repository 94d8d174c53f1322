#include "commands/game.h"

#include <string>

#include "commands/routing.h"

namespace qm {

namespace {

// Game traffic never leaves the sender's channel.
bool SameChannel(const TTcpSrvClient& a, const TTcpSrvClient& b) {
    return EqualsIgnoreCase(a.Channel(), b.Channel());
}

// The partner of `client` is whoever is named by its AuxNick, letter case
// included. A free client (no AuxNick) has no partner.
bool IsPartnerOf(const TTcpSrvClient& candidate, const TTcpSrvClient& client) {
    return !client.AuxNick.empty() && candidate.Nick() == client.AuxNick;
}

// Calls `f` for every client in the sender's channel whose nickname is
// exactly `nick`, from the last connection down.
template <typename F>
void ForEachNamedInChannel(const ChatState& state, const TTcpSrvClient& sender, std::string_view nick, F&& f) {
    state.clients.ForEachHolderDown(nick, [&](TTcpSrvClient& other) {
        if (SameChannel(other, sender) && other.Nick() == nick) f(other);
    });
}

// Sends `text` to the sender's partner(s) in its channel; returns whether
// anyone received it.
bool SendToPartner(const ChatState& state, const TTcpSrvClient& sender, const std::string& text) {
    bool delivered = false;
    state.clients.ForEachClientDown([&](TTcpSrvClient& other) {
        if (!SameChannel(other, sender) || !IsPartnerOf(other, sender)) return;
        other.SendStr(text);
        delivered = true;
    });
    return delivered;
}

constexpr std::string_view kError = "ERR\r\n";

// /accept and /reject: `answer` is what the challenger hears, `settle`
// what happens to both sides once the answer is given.
template <typename Settle>
void AnswerChallenge(const ChatState& state, TTcpSrvClient& client, std::string_view nick,
                     std::string_view answer, Settle&& settle) {
    ForEachNamedInChannel(state, client, nick, [&](TTcpSrvClient& challenger) {
        if (!challenger.InGame && challenger.AuxNick == client.Nick()) {
            challenger.SendStr(std::string(answer) + client.Nick() + "\r\n");
            settle(challenger);
        } else if (challenger.InGame) {
            client.SendStr(kError);
        }
        // Somebody else's partner: no answer at all.
    });
}

}  // namespace

void AbortGame(ChatState& state, const TTcpSrvClient& player) {
    state.clients.ForEachHolderDown(player.AuxNick, [&](TTcpSrvClient& opponent) {
        if (opponent.Nick() != player.AuxNick) return;
        opponent.SendStr(kError);
        opponent.InGame = false;
        opponent.AuxNick.clear();
    });
}

void CmdChallenge(ChatState& state, TTcpSrvClient& client, std::string_view nick) {
    ForEachNamedInChannel(state, client, nick, [&](TTcpSrvClient& opponent) {
        if (opponent.InGame) {
            client.SendStr(kError);
            return;
        }
        // Overwrites any earlier pairing on both sides; a client that is
        // playing and challenges someone else leaves its old opponent playing.
        opponent.SendStr("CHALLENGE " + client.Nick() + "\r\n");
        opponent.AuxNick = client.Nick();
        client.AuxNick = opponent.Nick();
    });
}

void CmdAccept(ChatState& state, TTcpSrvClient& client, std::string_view nick) {
    AnswerChallenge(state, client, nick, "ACCEPT ", [&](TTcpSrvClient& challenger) {
        challenger.InGame = true;
        client.InGame = true;
        // A later challenge may have renamed the accepter's partner; the game
        // is with the challenger it accepted, so its moves must go there.
        client.AuxNick = challenger.Nick();
    });
}

void CmdReject(ChatState& state, TTcpSrvClient& client, std::string_view nick) {
    AnswerChallenge(state, client, nick, "REJECT ", [&](TTcpSrvClient& challenger) {
        challenger.AuxNick.clear();
        client.AuxNick.clear();
    });
}

void CmdSetup(ChatState& state, TTcpSrvClient& client, std::string_view text) {
    // The setup goes to the partner of an open challenge or of a game. Only
    // when there is nobody to take it does the sender hear of a failure,
    // once: an error for a setup that did arrive would tell the game client
    // it failed.
    if (!SendToPartner(state, client, "SETP " + std::string(text) + "\r\n")) client.SendStr(kError);
}

void CmdMove(ChatState& state, TTcpSrvClient& client, std::string_view text) {
    if (!client.InGame) return;
    SendToPartner(state, client, "MOVE " + std::string(text) + "\r\n");
}

void CmdGive(ChatState& state, TTcpSrvClient& client, std::string_view) {
    if (!client.InGame) return;
    // Taken before the walk, which clears the records it passes.
    const std::string partner = client.AuxNick;
    const std::string announcement = partner + " has won the game!\r\n";
    state.clients.ForEachClientDown([&](TTcpSrvClient& other) {
        if (!SameChannel(other, client)) return;
        if (!partner.empty() && other.Nick() == partner) {
            ++other.GamesWon;
            other.AuxNick.clear();
            other.InGame = false;
            other.SendStr("W\r\n");
        } else {
            other.SendStr(announcement);
        }
    });
    client.AuxNick.clear();
    client.InGame = false;
}

void CmdWins(ChatState& state, TTcpSrvClient& client, std::string_view) {
    if (!client.ChessMode) return;
    // A wire line for game clients: no channel tag in front of it.
    SendToChannel(state, client,
                  "* " + client.Nick() + " has won " + std::to_string(client.GamesWon) + " games.\r\n",
                  /*tagged=*/false);
}

}  // namespace qm
