// user.dat as it may be found on disk: cut short, records of the wrong
// length, any bytes and line ends. Loading it and looking users up must hold.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "scratch_file.h"
#include "storage/ascii.h"
#include "storage/text_file.h"
#include "storage/user_database.h"

namespace {

void Require(bool holds) {
    if (!holds) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    // A nickname to look up and a password to set, then the file.
    const std::string nick = in.ConsumeRandomLengthString(32);
    const std::string password = in.ConsumeRandomLengthString(32);
    const std::string file = in.ConsumeRemainingBytesAsString();

    qm::UserDatabase users;
    try {
        users.Load(qm::fuzz::WriteScratchFile("user.dat", file));
    } catch (const qm::FileError&) {
        return 0;
    }
    const int index = users.FindUserRecord(nick);
    if (index < 0) {
        users.AppendRecord(nick, qm::EncodePassword(nick, password));
        Require(users.FindUserRecord(nick) >= 0);
        return 0;
    }
    Require(index % qm::UserDatabase::kRecordLines == 0);
    // The record of that spelling, or else one that differs only in letter case.
    const std::string found = users.RecordLine(index, qm::UserDatabase::kNick);
    Require(qm::EqualsIgnoreCase(found, nick));
    if (found != nick)
        for (int other = 0; other < index; other += qm::UserDatabase::kRecordLines)
            Require(!qm::EqualsIgnoreCase(users.RecordLine(other, qm::UserDatabase::kNick), nick));
    for (const auto field : {qm::UserDatabase::kPassword, qm::UserDatabase::kEcho, qm::UserDatabase::kServOp,
                             qm::UserDatabase::kChanOp, qm::UserDatabase::kSpy})
        (void)users.RecordLine(index, field);
    // A cut-short record grows to take the line, and keeps its nickname.
    users.SetRecordLine(index, qm::UserDatabase::kSpy, "Y");
    Require(users.RecordLine(index, qm::UserDatabase::kSpy) == "Y");
    Require(users.FindUserRecord(nick) == index);
    return 0;
}
