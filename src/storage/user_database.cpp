#include "storage/user_database.h"

#include <fmt/core.h>

#include "storage/ascii.h"
#include "storage/text_file.h"

namespace qm {

std::string Crypte(std::string_view text, std::string_view key) {
    if (key.empty()) return {};
    // The length is counted in one byte: 256 characters count as none.
    const size_t n = text.size() % 256;
    std::string out(n, '\0');
    size_t j = 0;
    for (size_t i = 0; i < n; ++i) {
        out[i] = static_cast<char>(static_cast<unsigned char>(text[i]) + static_cast<unsigned char>(key[j]));
        j = (j + 1 == key.size()) ? 0 : j + 1;
    }
    return out;
}

std::string GiveSerial(int32_t base, std::string_view text) {
    if (base == 0 || text.empty()) return "Error";
    // 32-bit arithmetic that wraps on overflow; unsigned, so that the wrap is
    // defined, and converted back to signed (modular since C++20).
    const auto b = static_cast<uint32_t>(base);
    const auto l = static_cast<uint32_t>(text.size());
    const auto f = static_cast<uint32_t>(static_cast<unsigned char>(text.front()));
    const auto a = static_cast<int32_t>(b * l + f * 666u);
    const auto s = static_cast<int32_t>(f * b * 123u);
    const auto t = static_cast<int32_t>(b + l * f * 6613u);
    return fmt::format("{}-{}-{}", a, s, t);
}

std::string EncodePassword(std::string_view nick, std::string_view password) {
    return GiveSerial(69, Crypte(password, nick));
}

namespace {

// Line (from 1) of the first setting line of a complete record that holds
// more than one character, or 0 when there is none.
std::size_t FirstShiftedSettingLine(const std::vector<std::string>& lines) {
    constexpr std::size_t kRecord = UserDatabase::kRecordLines;
    for (std::size_t record = 0; record + kRecord <= lines.size(); record += kRecord)
        for (std::size_t field = UserDatabase::kEcho; field <= UserDatabase::kSpy; ++field)
            if (lines[record + field].size() > 1) return record + field + 1;
    return 0;
}

}  // namespace

void UserDatabase::Load(const std::filesystem::path& file) {
    auto lines = ReadLines(file);
    if (const std::size_t line = FirstShiftedSettingLine(lines); line != 0)
        throw FileError(fmt::format("Damaged file {}, line {}: '{}' is no setting; a record above is cut short",
                                    file.string(), line, lines[line - 1]));
    UserBase = std::move(lines);
}

int UserDatabase::FindUserRecord(std::string_view nick) const {
    int sameLetters = -1;
    for (size_t i = 0; i < UserBase.size(); i += kRecordLines) {
        if (UserBase[i] == nick) return static_cast<int>(i);
        if (sameLetters < 0 && EqualsIgnoreCase(UserBase[i], nick)) sameLetters = static_cast<int>(i);
    }
    return sameLetters;
}

std::string UserDatabase::RecordLine(int index, Field field) const {
    const auto line = static_cast<size_t>(index) + field;
    return index >= 0 && line < UserBase.size() ? UserBase[line] : std::string();
}

void UserDatabase::SetRecordLine(int index, Field field, std::string value) {
    if (index < 0) return;
    const auto line = static_cast<size_t>(index) + field;
    if (line >= UserBase.size()) UserBase.resize(line + 1);
    UserBase[line] = std::move(value);
    Changed();
}

void UserDatabase::AppendRecord(std::string_view nick, std::string storedPassword) {
    // A file cut short ends in a partial record, which reads as if its
    // missing lines were empty. Giving it those lines first keeps the new
    // record on a record boundary, where FindUserRecord looks; otherwise it
    // would be written but never found again.
    UserBase.resize((UserBase.size() + kRecordLines - 1) / kRecordLines * kRecordLines);
    UserBase.emplace_back(nick);
    UserBase.push_back(std::move(storedPassword));
    UserBase.insert(UserBase.end(), {"Y", "N", "N", "N"});
    Changed();
}

}  // namespace qm
