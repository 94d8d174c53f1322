#include "server/client_record.h"

namespace qm {

void TTcpSrvClient::ResetForConnect(TimePoint now) {
    ReceivedLine.clear();
    ConnectTime = now;
    Nick = kChoosingNickname;
    Channel = kChoosingNickname;
    AwayMessage.clear();
    QueryTarget.clear();
    AuxNick.clear();
    GamesWon = 0;
    FloodCount = 0;
    IsOp = false;
    ChannelLocked = true;
    IsServOp = IsChanOp = Invisible = IsSpy = Undercover = Away = false;
    AwaitingNick = true;
    AwaitingLoginPassword = AwaitingNickPassword = false;
    HasIrcVoice = true;
    ChessMode = InGame = IsAdmin = QueryMode = false;
    DepartureAnnounced = false;
    LastLineTime = {};
    FloodNoticeSent = false;
}

}  // namespace qm
