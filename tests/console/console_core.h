#pragma once
// A real core for the console's tests: a scratch data directory seeded with
// the shipped defaults, listening on a free loopback port, with the events
// brought onto the GUI thread as in the program.
#include <QTemporaryDir>
#include <filesystem>
#include <functional>
#include <future>
#include <memory>

#include "console/core_events.h"
#include "host/core_host.h"

namespace qm::test {

class ConsoleCore {
public:
    // `adminPass` goes to the core as the program's --admin-pass-file would.
    explicit ConsoleCore(const std::string& adminPass = "");
    ~ConsoleCore();

    // Starts the core and waits for start-up's result.
    bool Start();

    // Runs `f` on the core's thread and waits for its result.
    template <typename T>
    T Ask(std::function<T(OperatorApi&)> f) {
        std::promise<T> answer;
        host->Post([&](OperatorApi& api) { answer.set_value(f(api)); });
        return answer.get_future().get();
    }
    unsigned short ListeningPort() {
        return Ask<unsigned short>([](OperatorApi& api) { return api.ListeningPort(); });
    }

    std::filesystem::path DataFile(const char* name) const;

    QTemporaryDir dir;
    console::CoreEvents events;
    std::unique_ptr<CoreHost> host;
};

// The first bytes a connection to `port` on 127.0.0.1 receives (the telnet
// negotiation of a chat server); empty when nothing accepts there.
std::string Greeting(unsigned short port);

// What every new connection to the chat server is sent first.
inline const std::string kGreeting = "\xff\xfb\x01\xff\xfb\x03";

}  // namespace qm::test
