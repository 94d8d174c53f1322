#include "console_core.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "host/front_end_options.h"
#include "storage/settings.h"
#include "storage/text_file.h"

namespace qm::test {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

ConsoleCore::ConsoleCore(const std::string& adminPass) {
    const fs::path data = dir.path().toStdString();
    SeedIfEmpty(data.string(), QM_SOURCE_DIR "/data");
    // Port 0: the system picks a free one.
    auto server = ReadLines(data / files::kServer);
    server.at(0) = "0";
    WriteLines(data / files::kServer, server);

    CoreHostOptions options;
    options.server.dataDir = data;
    options.server.preferencesFile = data / "preferences";
    options.server.listenAddresses = {"127.0.0.1"};
    // user.dat and mail.dat are written only when the operator's actions say so.
    options.server.writeBehindDelay = std::chrono::hours(1);
    options.adminPass = adminPass;
    host = std::make_unique<CoreHost>(events, std::move(options));
}

ConsoleCore::~ConsoleCore() { host->Stop(10s); }

bool ConsoleCore::Start() {
    std::promise<bool> started;
    host->Start([&](bool ok) { started.set_value(ok); });
    return started.get_future().get();
}

fs::path ConsoleCore::DataFile(const char* name) const { return fs::path(dir.path().toStdString()) / name; }

std::string Greeting(unsigned short port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return {};
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    std::string bytes;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) {
        pollfd ready{fd, POLLIN, 0};
        char buffer[64];
        while (bytes.size() < kGreeting.size() && ::poll(&ready, 1, 5000) == 1) {
            const ssize_t n = ::read(fd, buffer, std::min(sizeof buffer, kGreeting.size() - bytes.size()));
            if (n <= 0) break;
            bytes.append(buffer, static_cast<std::size_t>(n));
        }
    }
    ::close(fd);
    return bytes;
}

}  // namespace qm::test
