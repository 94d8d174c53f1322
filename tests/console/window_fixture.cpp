#include "window_fixture.h"

#include <QCoreApplication>

#include "scratch_dir.h"
#include "storage/text_file.h"

namespace qm::test {

void WindowFixture::SetUp() { dir_ = MakeScratchDir("console"); }

void WindowFixture::TearDown() {
    Stop();
    if (!HasFailure()) std::filesystem::remove_all(dir_);
}

void WindowFixture::Start(const DataFiles& overrides, const std::string& preferences) {
    DataFiles files = DefaultDataFiles();
    for (const auto& [name, text] : overrides) files[name] = text;
    for (const auto& [name, text] : files) WriteFileAtomic(dir_ / name, text);
    WriteFileAtomic(dir_ / "preferences", preferences);
    Run();
}

void WindowFixture::Run() {
    CoreHostOptions options;
    options.server.dataDir = dir_;
    options.server.preferencesFile = dir_ / "preferences";
    options.server.listenAddresses = {"127.0.0.1"};
    options.server.badPasswordDelay = std::chrono::milliseconds(100);
    events_ = std::make_unique<console::CoreEvents>();
    core_ = std::make_unique<CoreHost>(*events_, options);
    windows_ = std::make_unique<console::ConsoleWindows>(*core_, *events_);
    std::promise<bool> started;
    core_->Start([&](bool ok) { started.set_value(ok); });
    ASSERT_TRUE(started.get_future().get());
    windows_->CoreStarted();
    port_ = Ask<unsigned short>([](OperatorApi& api) { return api.ListeningPort(); });
    Settle();
}

void WindowFixture::Restart() {
    Stop();
    Run();
}

void WindowFixture::Stop() {
    if (!core_) return;
    EXPECT_TRUE(core_->Stop(std::chrono::seconds(10)));
    // What the core queued for the windows before it stopped.
    QCoreApplication::processEvents();
    windows_.reset();
    core_.reset();
    events_.reset();
}

void WindowFixture::Settle() { EXPECT_TRUE(SettleWithCore(*core_)); }

void WindowFixture::Open(QWidget& window) {
    window.show();
    Settle();
}

std::string WindowFixture::File(const char* name) const { return ReadFileBytes(dir_ / name); }

}  // namespace qm::test

// The widgets need an application; without a display they draw offscreen.
int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    // Listing the tests (as the build does) needs no window system.
    if (::testing::GTEST_FLAG(list_tests)) return RUN_ALL_TESTS();
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
