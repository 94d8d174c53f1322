#pragma once
// The IRC users the client knows.
//
// Ownership: a record is shared by its holders (std::shared_ptr): the client
// holds its own record from Connect until the connection closes, every
// received line holds its sender's record while it is handled, and every name
// taken from a names reply is kept until the next Connect. The table itself
// only points at the records (std::weak_ptr), so a record leaves the table
// when its last holder lets go, exactly as with counted references. Between
// two lines the table therefore holds the client itself and the users seen in
// names replies; the senders of other lines come and go with their line.
// Shared ownership also keeps a record alive for whoever still uses it when
// an event handler empties the table (Connect from inside a handler).
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace qm {

class TIRCClient;

class TUser {
public:
    TUser(TIRCClient& owner, std::string nick, std::string address)
        : Nick(std::move(nick)), Address(std::move(address)), owner_(owner) {}

    // A private message to this user.
    void Say(std::string_view text);

    std::string Nick;
    // "user@host" from the user's lines; empty until seen.
    std::string Address;
    // The user's last PART or QUIT message, or the reason of the last KICK
    // the user gave or received.
    std::string LastMessage;

private:
    TIRCClient& owner_;
};

using TUserRef = std::shared_ptr<TUser>;

class TUsers {
public:
    explicit TUsers(TIRCClient& owner) : owner_(owner) {}

    // The record under `nick` (a non-empty address replaces the stored one),
    // or a new record entered under it; the caller becomes a holder.
    TUserRef Add(std::string_view nick, std::string_view address);
    // Keeps a names-reply user in the table until Clear.
    void Keep(TUserRef user) { kept_.push_back(std::move(user)); }
    // The record, or nullptr.
    TUser* Get(std::string_view nick) const { return Hold(nick).get(); }
    // The record, or nullptr, for a caller that raises events while it uses
    // the record (a handler may empty the table).
    TUserRef Hold(std::string_view nick) const;
    // The record under `oldNick` takes `newNick` and is found under it from
    // now on (unless another record already goes by `newNick`).
    void Nick(std::string_view oldNick, std::string_view newNick);
    // Empties the table and lets go of the kept records.
    void Clear();
    std::size_t Count() const;

private:
    using Entries = std::unordered_map<std::string, std::weak_ptr<TUser>>;
    // The live entry for `nick`, or end(); drops the entry if its record is gone.
    Entries::iterator Entry(std::string_view nick);
    // Drops the entries whose records are gone, once there are many of them
    // (every line's sender leaves one behind).
    void Sweep();

    TIRCClient& owner_;
    // By nick with its letters folded: a lookup per line costs the same with
    // ten users known as with ten thousand.
    Entries entries_;
    std::size_t sweepAt_ = 64;
    std::vector<TUserRef> kept_;
};

}  // namespace qm
