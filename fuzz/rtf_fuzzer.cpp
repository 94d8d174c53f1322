// The mail store's RTF reader against any mail.dat, and the writer against
// whatever lines the reader gives: what the writer makes, the reader must
// give back unchanged. The store's loader runs too, on the same bytes as a
// file.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "scratch_file.h"
#include "storage/mail_store.h"
#include "storage/text_file.h"

namespace {

void Require(bool holds) {
    if (!holds) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const auto paragraphs = qm::ParseRtfParagraphs(bytes);
    Require(qm::ParseRtfParagraphs(qm::WriteRtfParagraphs(paragraphs)) == paragraphs);

    qm::MailStore mail;
    try {
        mail.Load(qm::fuzz::WriteScratchFile("mail.dat", bytes));
    } catch (const qm::FileError&) {
        return 0;
    }
    // A store as loaded finds every whole message it holds (a recipient
    // line without its message, at the end of a cut-short file, is none).
    for (std::size_t i = 0; i + 1 < mail.Lines().size(); i += 2) {
        const std::string& recipient = mail.Lines()[i];
        const int count = mail.CountFor(recipient);
        Require(count >= 1);
        const int index = mail.FindMessage(recipient, count);
        Require(index >= 0 && static_cast<std::size_t>(index) + 1 < mail.Lines().size());
        Require(mail.Lines()[index] == recipient);
        (void)mail.MessageLine(index);
    }
    return 0;
}
