#include "storage/settings.h"

#include <algorithm>
#include <charconv>
#include <span>

#include "storage/ascii.h"
#include "storage/text_file.h"

namespace qm {

namespace {

// Line `n` (from 0) of a file that may have fewer lines than expected.
std::string LineOr(const std::vector<std::string>& lines, size_t n) {
    return n < lines.size() ? lines[n] : std::string();
}

// messages.dat, in file order.
constexpr std::string Settings::*kMessageFields[] = {
    &Settings::Prefix, &Settings::Join,    &Settings::Part, &Settings::Quit,   &Settings::Diss,
    &Settings::Kill,   &Settings::Channel, &Settings::Op,   &Settings::Deop,   &Settings::Kick,
    &Settings::ServOP, &Settings::ChanOP,  &Settings::IsBanned,
};

// qmserv.dat, in file order.
constexpr std::string Settings::*kServerFields[] = {
    &Settings::Port, &Settings::Max, &Settings::Welcome, &Settings::Busy, &Settings::Saver,
};

using FieldList = std::span<std::string Settings::* const>;

void AssignLines(Settings& s, FieldList fields, const std::vector<std::string>& lines) {
    for (size_t i = 0; i < fields.size(); ++i) s.*fields[i] = LineOr(lines, i);
}

std::vector<std::string> CollectLines(const Settings& s, FieldList fields) {
    std::vector<std::string> lines;
    lines.reserve(fields.size());
    for (const auto field : fields) lines.push_back(s.*field);
    return lines;
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// The wildcard rule of the ban list: "*" skips exactly two bytes of the
// address, "?" exactly one, anything else must match exactly; whatever the
// pattern does not reach is not looked at.
bool WildcardAccepts(std::string_view pattern, std::string_view address) {
    size_t j = 0;
    for (const char p : pattern) {
        if (p == '*') {
            j += 2;
        } else if (p == '?') {
            j += 1;
        } else {
            if (j >= address.size() || address[j] != p) return false;
            ++j;
        }
    }
    return true;
}

}  // namespace

std::string* FindTextSetting(Settings& s, std::string_view name) {
    static constexpr std::pair<std::string_view, std::string Settings::*> kTexts[] = {
        {"Prefix", &Settings::Prefix},       {"Join", &Settings::Join},
        {"Part", &Settings::Part},           {"Quit", &Settings::Quit},
        {"Diss", &Settings::Diss},           {"Kill", &Settings::Kill},
        {"Channel", &Settings::Channel},     {"Op", &Settings::Op},
        {"Deop", &Settings::Deop},           {"Kick", &Settings::Kick},
        {"ServOP", &Settings::ServOP},       {"ChanOP", &Settings::ChanOP},
        {"IsBanned", &Settings::IsBanned},   {"Port", &Settings::Port},
        {"Max", &Settings::Max},             {"Welcome", &Settings::Welcome},
        {"Busy", &Settings::Busy},           {"Saver", &Settings::Saver},
        {"MainC", &Settings::MainC},         {"AdminPass", &Settings::AdminPass},
        {"HelpReply", &Settings::HelpReply}, {"HelpChan", &Settings::HelpChan},
        {"HelpReg", &Settings::HelpReg},     {"Announcement", &Settings::Announcement},
    };
    for (const auto& [key, field] : kTexts)
        if (key == name) return &(s.*field);
    return nullptr;
}

bool IsMultiLineSetting(std::string_view name) {
    return name == "HelpReply" || name == "HelpChan" || name == "HelpReg" || name == "Announcement";
}

void LoadAnnouncement(const std::filesystem::path& dir, Settings& s) {
    s.Announcement = ReadText(dir / files::kAnnounce);
}

void LoadHelpReply(const std::filesystem::path& dir, Settings& s) { s.HelpReply = ReadText(dir / files::kHelp); }

void LoadHelpTexts(const std::filesystem::path& dir, Settings& s) {
    LoadHelpReply(dir, s);
    s.HelpReg = ReadText(dir / files::kHelpRegister);
    s.HelpChan = ReadText(dir / files::kHelpChannel);
}

void LoadMessages(const std::filesystem::path& dir, Settings& s) {
    AssignLines(s, kMessageFields, ReadLines(dir / files::kMessages));
}

void LoadServerSettings(const std::filesystem::path& dir, Settings& s) {
    AssignLines(s, kServerFields, ReadLines(dir / files::kServer));
}

void ReloadServerTexts(const std::filesystem::path& dir, Settings& s) {
    const auto lines = ReadLines(dir / files::kServer);
    s.Welcome = LineOr(lines, 2);
    s.Busy = LineOr(lines, 3);
}

std::size_t LoadBans(const std::filesystem::path& dir, Settings& s) {
    s.Bans = ReadLines(dir / files::kBans);
    return std::erase_if(s.Bans, [](const std::string& line) { return IsBlankBanEntry(line); });
}

void SaveProperties(const std::filesystem::path& dir, const Settings& s) {
    WriteLines(dir / files::kMessages, CollectLines(s, kMessageFields));
    // The help text is held with its line ends; the file gets them as CR LF.
    WriteLines(dir / files::kHelp, SplitLines(s.HelpReply));
    WriteLines(dir / files::kServer, CollectLines(s, kServerFields));
}

void SaveBans(const std::filesystem::path& dir, const Settings& s) { WriteLines(dir / files::kBans, s.Bans); }

void SaveAnnouncement(const std::filesystem::path& dir, const Settings& s) {
    WriteLines(dir / files::kAnnounce, SplitLines(s.Announcement));
}

int ParseWholeNumber(std::string_view text) {
    std::string_view digits = text;
    while (!digits.empty() && IsBlank(digits.front())) digits.remove_prefix(1);
    while (!digits.empty() && IsBlank(digits.back())) digits.remove_suffix(1);
    // from_chars takes a minus sign but not a plus sign.
    if (digits.size() > 1 && digits.front() == '+' && digits[1] != '-' && digits[1] != '+') digits.remove_prefix(1);
    int value = 0;
    const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (digits.empty() || ec != std::errc() || end != digits.data() + digits.size())
        throw SettingError("'" + std::string(text) + "' is not a valid integer value");
    return value;
}

int SaveIntervalMinutes(std::string_view saver, const std::filesystem::path& file) {
    // A day is plenty for a log; far larger values overflow the timer, which
    // then fires at once, over and over.
    constexpr int kMostMinutes = 24 * 60;
    const int minutes = ParseWholeNumber(saver);
    if (minutes < 0 || minutes > kMostMinutes)
        throw SettingError("Saver " + std::to_string(minutes) + " in " + file.string() + " is out of range (0 to " +
                           std::to_string(kMostMinutes) + " minutes)");
    return minutes;
}

int ServerSettingNumber(const std::filesystem::path& dir, const Settings& s, ServerNumber which) {
    const auto line = static_cast<std::size_t>(which);
    const std::string& text = s.*kServerFields[line];
    const auto where = (dir / files::kServer).string() + ", line " + std::to_string(line + 1) + ": ";
    if (which == ServerNumber::kMax && text.empty()) return 0;
    int value = 0;
    try {
        value = ParseWholeNumber(text);
    } catch (const SettingError& e) {
        throw SettingError(where + e.what());
    }
    if (which == ServerNumber::kPort && (value < 0 || value > 65535))
        throw SettingError(where + "'" + text + "' is no port (1-65535, or 0 for any free port)");
    if (which == ServerNumber::kSaver) return SaveIntervalMinutes(text, dir / files::kServer);
    return value;
}

bool IsBlankBanEntry(std::string_view entry) { return std::ranges::all_of(entry, IsBlank); }

bool BanEntryMatches(std::string_view entry, std::string_view address) {
    return EqualsIgnoreCase(entry, address) || WildcardAccepts(entry, address);
}

}  // namespace qm
