// The server's own files as they may be found on disk: qmserv.dat (whose
// numbers are read as numbers), messages.dat and bans.txt, each cut short,
// too long or holding any bytes. The first input byte says which file; the
// ban list is then tried on a few addresses.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <string>

#include "scratch_file.h"
#include "storage/settings.h"
#include "storage/text_file.h"

namespace {

// Each number is used the way the server uses it; a bad one is reported.
void ReadNumbers(const qm::Settings& s) {
    for (const std::string* text : {&s.Port, &s.Max, &s.Saver}) {
        try {
            (void)qm::ParseWholeNumber(*text);
        } catch (const qm::SettingError&) {
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    const int which = in.ConsumeIntegralInRange(0, 2);
    const std::string address = in.ConsumeRandomLengthString(64);
    const std::string file = in.ConsumeRemainingBytesAsString();
    const auto& dir = qm::fuzz::ScratchDir();

    qm::Settings s;
    try {
        switch (which) {
            case 0:
                qm::fuzz::WriteScratchFile(qm::files::kServer, file);
                qm::LoadServerSettings(dir, s);
                ReadNumbers(s);
                qm::ReloadServerTexts(dir, s);
                break;
            case 1:
                qm::fuzz::WriteScratchFile(qm::files::kMessages, file);
                qm::LoadMessages(dir, s);
                break;
            case 2:
                qm::fuzz::WriteScratchFile(qm::files::kBans, file);
                qm::LoadBans(dir, s);
                for (const std::string& entry : s.Bans) {
                    (void)qm::BanEntryMatches(entry, address);
                    (void)qm::BanEntryMatches(entry, "127.0.0.1");
                }
                break;
        }
    } catch (const qm::FileError&) {
    }
    return 0;
}
