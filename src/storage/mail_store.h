#pragma once
// Mail left for registered users: two lines per message (recipient, then
// "From: <sender> : <text>"), in the order sent. mail.dat is written as RTF,
// one paragraph per line, and read back from RTF or from plain text.
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace qm {

// The paragraphs of an RTF document, as a rich-text edit control writes one
// ({\rtf1\ansi\deff0{\fonttbl...}}\viewkind4\uc1\pard\f0\fs16 line\par ...}):
// groups such as the font table are skipped, \par ends a paragraph, \'hh
// and the escaped \\ \{ \} give their bytes. A last paragraph without \par
// that holds text is kept.
std::vector<std::string> ParseRtfParagraphs(std::string_view rtf);

// An RTF document holding each line as one paragraph; bytes that RTF
// reserves (\ { }) and bytes outside printable ASCII are escaped, so that
// ParseRtfParagraphs gives back exactly the same lines.
std::string WriteRtfParagraphs(const std::vector<std::string>& lines);

class MailStore {
public:
    static constexpr size_t kMaxMessage = 2048;
    // Messages one mailbox holds at most; more would let one sender fill
    // the disk and the memory.
    static constexpr int kMaxMessages = 100;

    // RTF when the file starts with "{\rtf", plain text lines otherwise; throws FileError.
    void Load(const std::filesystem::path& file);

    // Messages whose recipient line equals `nick` exactly.
    int CountFor(std::string_view nick) const;
    // Index of the recipient line of the n-th (from 1) message for `nick`, or -1.
    int FindMessage(std::string_view nick, int n) const;
    // The "From: ..." line of the message whose recipient line is at `index`.
    const std::string& MessageLine(int index) const { return lines_[index + 1]; }
    // Appends recipient and "From: <sender> : <text>", the text cut to kMaxMessage.
    void Append(std::string_view recipient, std::string_view sender, std::string_view text);
    // Removes both lines of the message at `index`.
    void Remove(int index);

    // The lines; mail.dat holds WriteRtfParagraphs of them.
    const std::vector<std::string>& Lines() const { return lines_; }

    std::function<void()> onChange;

private:
    void Changed() const {
        if (onChange) onChange();
    }
    std::vector<std::string> lines_;
};

}  // namespace qm
