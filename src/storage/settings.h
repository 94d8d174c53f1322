#pragma once
// The server's configuration: named texts held in memory and read afresh at
// every use, loaded from qmserv.dat, messages.dat, the help files,
// announce.txt and bans.txt in the data directory.
#include <cstddef>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace qm {

// A setting that must be a whole number and is not. what() is
// "'<text>' is not a valid integer value".
class SettingError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct Settings {
    // messages.dat, in file order
    std::string Prefix, Join, Part, Quit, Diss, Kill, Channel, Op, Deop, Kick, ServOP, ChanOP,
        IsBanned;
    // qmserv.dat, in file order, with the defaults of the Properties dialog
    std::string Port = "21";
    std::string Max = "10";
    std::string Welcome = "Welcome.  Please type /help for assistance";
    std::string Busy = "Sorry.  All connections full.  Please try again later";
    std::string Saver = "5";
    // preference store
    std::string MainC = "Main";
    bool FloodProt = false;
    bool Icon = false;
    // memory only
    std::string AdminPass;
    bool RemoteAdmin = false;
    // whole texts, each line followed by CR LF
    std::string HelpReply, HelpChan, HelpReg, Announcement;
    std::vector<std::string> Bans;
};

// The text setting called `name` (a field name above: Prefix, ..., Busy,
// Saver, MainC, AdminPass, HelpReply, HelpChan, HelpReg, Announcement), or
// null for any other name.
std::string* FindTextSetting(Settings& s, std::string_view name);
inline const std::string* FindTextSetting(const Settings& s, std::string_view name) {
    return FindTextSetting(const_cast<Settings&>(s), name);
}
// The texts of several lines (the help texts and the announcement), held
// with every line followed by CR LF.
bool IsMultiLineSetting(std::string_view name);

// Names of the files in the data directory.
namespace files {
inline constexpr const char* kServer = "qmserv.dat";
inline constexpr const char* kMessages = "messages.dat";
inline constexpr const char* kHelp = "help.txt";
inline constexpr const char* kHelpChannel = "helpchannel.txt";
inline constexpr const char* kHelpRegister = "helpregister.txt";
inline constexpr const char* kAnnounce = "announce.txt";
inline constexpr const char* kBans = "bans.txt";
inline constexpr const char* kUsers = "user.dat";
inline constexpr const char* kMail = "mail.dat";
}  // namespace files

// Each loader reads one file (or one group, in the order named) and throws
// FileError when a file cannot be opened; values read before the failing
// file keep their new text, the rest keep their old text. Missing lines read
// as empty; lines beyond the table are ignored.
void LoadAnnouncement(const std::filesystem::path& dir, Settings& s);
void LoadHelpTexts(const std::filesystem::path& dir, Settings& s);  // help, helpregister, helpchannel
void LoadMessages(const std::filesystem::path& dir, Settings& s);   // all 13
void LoadServerSettings(const std::filesystem::path& dir, Settings& s);  // all 5
void ReloadServerTexts(const std::filesystem::path& dir, Settings& s);   // Welcome and Busy only
// The ban list, without its blank lines (an empty entry would ban every
// address); returns how many there were.
std::size_t LoadBans(const std::filesystem::path& dir, Settings& s);
void LoadHelpReply(const std::filesystem::path& dir, Settings& s);  // help.txt only

// Properties OK: messages.dat, help.txt, qmserv.dat, in that order; throws
// FileError("Cannot create file <name>") at the first failure.
void SaveProperties(const std::filesystem::path& dir, const Settings& s);
void SaveBans(const std::filesystem::path& dir, const Settings& s);
void SaveAnnouncement(const std::filesystem::path& dir, const Settings& s);

// The lines of qmserv.dat (counted from 0) that hold whole numbers.
enum class ServerNumber : std::size_t { kPort = 0, kMax = 1, kSaver = 4 };

// The whole number on that line of qmserv.dat (as held in `s`); throws
// SettingError naming the file, the line and the value, as in
// "<dir>/qmserv.dat, line 1: 'abc' is not a valid integer value". A port
// lies in 1-65535, or is 0 for any free port; an empty Max means no limit;
// Saver lies in 0-1440 (see SaveIntervalMinutes).
int ServerSettingNumber(const std::filesystem::path& dir, const Settings& s, ServerNumber which);

// A whole number as the settings use them (optional sign, decimal digits,
// 32-bit range, surrounding blanks allowed); throws SettingError otherwise.
int ParseWholeNumber(std::string_view text);

// The log-save interval `Saver` in minutes: from 0 (no periodic save) up to
// a day. Throws SettingError when it is no whole number, and when it is out
// of that range with the text "Saver <value> in <file> is out of range (0 to
// 1440 minutes)", `file` being the qmserv.dat it comes from.
int SaveIntervalMinutes(std::string_view saver, const std::filesystem::path& file);

// An entry of nothing but blanks: it would match every address, so it is
// no entry (a line of bans.txt, or one typed into the ban editor).
bool IsBlankBanEntry(std::string_view entry);

// True when the ban entry bans the address: equal ignoring letter case, or
// accepted by the wildcard rule ("*" exactly two characters, "?" exactly one,
// any other byte itself; what follows the matched part is not looked at).
bool BanEntryMatches(std::string_view entry, std::string_view address);

}  // namespace qm
