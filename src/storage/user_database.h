#pragma once
// Registered nicknames: six lines per record (nickname, stored password,
// echo, ServOP, ChanOP and spy settings), kept in memory as plain lines and
// in user.dat as CR LF text.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace qm {

// The legacy password scheme; existing user.dat files depend on it bit for bit.
std::string Crypte(std::string_view text, std::string_view key);
std::string GiveSerial(int32_t base, std::string_view text);
std::string EncodePassword(std::string_view nick, std::string_view password);

class UserDatabase {
public:
    static constexpr int kRecordLines = 6;
    enum Field { kNick = 0, kPassword = 1, kEcho = 2, kServOp = 3, kChanOp = 4, kSpy = 5 };

    // Replaces every line with those of the file; throws FileError when it
    // cannot be read, and when a complete record's setting line (echo,
    // ServOP, ChanOP, spy) holds more than one character: a record cut short
    // further up has shifted every later one, and saving would make that
    // for good. Memory is left as it was then. A last record cut short is
    // read as it is (its missing lines count as empty).
    void Load(const std::filesystem::path& file);

    // Index of line 0 of the record of `nick`, looking at lines 0, 6, 12, ...
    // only; -1 if none. A record spelt exactly like `nick` comes first; else
    // the first one that differs from it in letter case only, so that "BOB"
    // can never pass for another user than the registered "Bob" (older files
    // that hold "Bob" and "bob" as two records keep both).
    int FindUserRecord(std::string_view nick) const;

    // Line `field` of the record at `index`; empty when the file was cut short.
    std::string RecordLine(int index, Field field) const;
    // Replaces that line (padding a cut-short record with empty lines).
    void SetRecordLine(int index, Field field, std::string value);
    // Appends a record: nick, stored password, "Y", "N", "N", "N"; a cut-short
    // last record first gets its missing lines, empty.
    void AppendRecord(std::string_view nick, std::string storedPassword);

    // The lines; user.dat holds JoinLines of them.
    const std::vector<std::string>& Lines() const { return UserBase; }

    // Called after every change, so that the owner can schedule a save.
    std::function<void()> onChange;

private:
    void Changed() const {
        if (onChange) onChange();
    }
    std::vector<std::string> UserBase;
};

}  // namespace qm
