#pragma once
// Waiting on the GUI thread for what the core sends it, for the console's
// tests and the screenshot program: the events keep being handled while
// the test waits.
#include <QCoreApplication>
#include <QObject>
#include <QThread>
#include <chrono>
#include <functional>

#include "console/core_call.h"
#include "host/core_host.h"

namespace qm::test {

// Lets the GUI thread handle what is queued for it until `done` holds; false after `limit`.
inline bool WaitForGui(const std::function<bool()>& done, std::chrono::milliseconds limit = std::chrono::seconds(10)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
    return true;
}

// A question to the core and its answer back on the GUI thread: whatever the
// core had queued for the GUI before it (events, earlier answers) has been
// handled too. False when no answer came.
inline bool SettleWithCore(CoreHost& core) {
    bool back = false;
    QObject receiver;
    console::AskCore(core, &receiver, [](OperatorApi&) { return true; }, [&](bool) { back = true; });
    return WaitForGui([&] { return back; });
}

}  // namespace qm::test
