#include "storage/mail_store.h"

#include "storage/text_file.h"

namespace qm {

void MailStore::Load(const std::filesystem::path& file) {
    const std::string bytes = ReadFileBytes(file);
    lines_ = std::string_view(bytes).starts_with("{\\rtf") ? ParseRtfParagraphs(bytes) : SplitLines(bytes);
}

int MailStore::CountFor(std::string_view nick) const {
    int count = 0;
    for (size_t i = 0; i + 1 < lines_.size(); i += 2)
        if (lines_[i] == nick) ++count;
    return count;
}

int MailStore::FindMessage(std::string_view nick, int n) const {
    if (n < 1) return -1;
    for (size_t i = 0; i + 1 < lines_.size(); i += 2)
        if (lines_[i] == nick && --n == 0) return static_cast<int>(i);
    return -1;
}

void MailStore::Append(std::string_view recipient, std::string_view sender, std::string_view text) {
    lines_.emplace_back(recipient);
    std::string line = "From: ";
    line += sender;
    line += " : ";
    line += text.substr(0, kMaxMessage);
    lines_.push_back(std::move(line));
    Changed();
}

void MailStore::Remove(int index) {
    if (index < 0 || static_cast<size_t>(index) >= lines_.size()) return;
    const auto first = lines_.begin() + index;
    lines_.erase(first, first + std::min<ptrdiff_t>(2, lines_.end() - first));
    Changed();
}

}  // namespace qm
