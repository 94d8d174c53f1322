#include "irc/local_host.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netinet/in.h>
#include <unistd.h>

#include <array>

namespace qm {

std::string LocalHostName() {
    std::array<char, 256> name{};
    if (gethostname(name.data(), name.size() - 1) != 0 || name[0] == '\0') return "localhost";
    return name.data();
}

std::string LocalIPv4Address() {
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) return "127.0.0.1";
    std::string found = "127.0.0.1";
    for (const ifaddrs* entry = list; entry; entry = entry->ifa_next) {
        if (!entry->ifa_addr || entry->ifa_addr->sa_family != AF_INET) continue;
        const auto* address = reinterpret_cast<const sockaddr_in*>(entry->ifa_addr);
        if ((ntohl(address->sin_addr.s_addr) >> 24) == 127) continue;
        std::array<char, INET_ADDRSTRLEN> text{};
        if (inet_ntop(AF_INET, &address->sin_addr, text.data(), text.size())) {
            found = text.data();
            break;
        }
    }
    freeifaddrs(list);
    return found;
}

}  // namespace qm
