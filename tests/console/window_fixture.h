#pragma once
// The console's windows on a real core: a scratch data directory with the
// test texts (Prefix "***", Welcome "Welcome!", ...), the core listening on
// a free loopback port, and the seven windows built as the program builds
// them. The widgets are driven with Qt's test events; chat users are real
// TCP clients.
#include <gtest/gtest.h>

#include <QApplication>
#include <QWidget>
#include <chrono>
#include <filesystem>
#include <functional>
#include <future>
#include <memory>

#include "chat_fixture.h"
#include "console/console_windows.h"
#include "console/core_events.h"
#include "gui_wait.h"
#include "host/core_host.h"

namespace qm::test {

class WindowFixture : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Writes the files (over the test defaults) and starts the core and the windows.
    void Start(const DataFiles& overrides = {}, const std::string& preferences = "");
    // Stops the core (which writes its files) and the windows, and starts
    // both again on the same files.
    void Restart();
    void Stop();

    // Runs `f` on the core's thread and waits for its result.
    template <typename T>
    T Ask(std::function<T(OperatorApi&)> f) {
        std::promise<T> answer;
        core_->Post([&](OperatorApi& api) { answer.set_value(f(api)); });
        return answer.get_future().get();
    }
    // Lets the GUI thread handle what is queued for it until `done` holds.
    static bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds limit = std::chrono::seconds(10)) {
        return WaitForGui(done, limit);
    }
    // Lets everything the core had queued for the GUI thread arrive: a
    // question to the core and back, queued behind it.
    void Settle();
    // Shows a window and lets its opening question be answered.
    void Open(QWidget& window);
    std::string File(const char* name) const;

    std::filesystem::path dir_;
    std::unique_ptr<console::CoreEvents> events_;
    std::unique_ptr<CoreHost> core_;
    std::unique_ptr<console::ConsoleWindows> windows_;
    unsigned short port_ = 0;

private:
    void Run();
};

}  // namespace qm::test
