#pragma once
// Everything the chat server knows about the user on one connection. There
// is no separate user table: who is online, who is in a channel and whether
// a nickname is taken are answered by walking the list of these records.
#include <cstdint>
#include <string>

#include "server/connection.h"
#include "storage/clock.h"

namespace qm {

// Nickname and channel of a connection that has not chosen a nickname yet.
inline constexpr std::string_view kChoosingNickname = "Choosing nickname...";

class TTcpSrvClient final : public TWSocketClient {
public:
    using TWSocketClient::TWSocketClient;

    // The values every field takes before the record is used.
    void ResetForConnect(TimePoint now);

    std::string ReceivedLine;
    TimePoint ConnectTime{};
    std::string Nick;
    std::string Channel;
    std::string AwayMessage;
    std::string QueryTarget;
    std::string AuxNick;
    int32_t GamesWon = 0;
    int32_t FloodCount = 0;
    bool IsOp = false;
    bool ChannelLocked = true;
    bool IsServOp = false;
    bool IsChanOp = false;
    bool Invisible = false;
    bool IsSpy = false;
    bool Undercover = false;
    bool Away = false;
    bool AwaitingNick = true;
    bool AwaitingLoginPassword = false;
    bool AwaitingNickPassword = false;
    bool HasIrcVoice = true;
    bool ChessMode = false;
    bool InGame = false;
    bool IsAdmin = false;
    bool QueryMode = false;

    // Set by /quit and /kill, which announce the departure themselves: later
    // lines from this connection are ignored and its disconnect sends no
    // notices. Kept per connection, so that another user who happens to have
    // the same remote port is never affected.
    bool DepartureAnnounced = false;

    // Flood protection: when the last line arrived, and whether the user has
    // been told that lines are being ignored.
    TimePoint LastLineTime{};
    bool FloodNoticeSent = false;

    bool AwaitingPassword() const { return AwaitingLoginPassword || AwaitingNickPassword; }

    // Telnet's echo option follows the echo, except at a password prompt,
    // where the server keeps it so that the client never shows the password.
    void SyncEchoOption() { SetServerEchoOption(LineEcho() || AwaitingPassword()); }

    std::shared_ptr<TTcpSrvClient> Self() {
        return std::static_pointer_cast<TTcpSrvClient>(shared_from_this());
    }
};

}  // namespace qm
