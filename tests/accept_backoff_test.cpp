// Accepting when the process has run out of file descriptors: the server
// waits longer and longer between tries, says so once, and takes the waiting
// connection as soon as a descriptor is free again.
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include "chat_fixture.h"
#include "net/backoff.h"

namespace qm::test {
namespace {

using namespace std::chrono_literals;

TEST(Backoff, DoublesUpToTheCeilingAndStartsOverAfterReset) {
    Backoff backoff(100ms, 5000ms);
    const std::vector<std::chrono::milliseconds> expected = {100ms,  200ms,  400ms,  800ms,
                                                             1600ms, 3200ms, 5000ms, 5000ms};
    for (const auto delay : expected) EXPECT_EQ(backoff.Next(), delay);
    backoff.Reset();
    EXPECT_EQ(backoff.Next(), 100ms);
    EXPECT_EQ(backoff.Next(), 200ms);
}

// Takes every free descriptor of this process (under a lowered soft limit,
// so that there are few) until Release; the limit comes back at the end.
class DescriptorsTaken {
public:
    DescriptorsTaken() {
        ::getrlimit(RLIMIT_NOFILE, &saved_);
        int highest = 0;
        for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd"))
            highest = std::max(highest, std::stoi(entry.path().filename().string()));
        rlimit lowered = saved_;
        lowered.rlim_cur = static_cast<rlim_t>(highest) + 16;
        ::setrlimit(RLIMIT_NOFILE, &lowered);
        for (int fd; (fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC)) >= 0;) taken_.push_back(fd);
    }
    ~DescriptorsTaken() {
        ReleaseAll();
        ::setrlimit(RLIMIT_NOFILE, &saved_);
    }
    DescriptorsTaken(const DescriptorsTaken&) = delete;
    DescriptorsTaken& operator=(const DescriptorsTaken&) = delete;

    // Frees one descriptor, for the test's own socket.
    void ReleaseOne() {
        ::close(taken_.back());
        taken_.pop_back();
    }
    void ReleaseAll() {
        for (int fd : taken_) ::close(fd);
        taken_.clear();
    }
    bool Exhausted() const { return !taken_.empty(); }

private:
    rlimit saved_{};
    std::vector<int> taken_;
};

class AcceptBackoff : public ChatServerFixture {
protected:
    std::size_t AcceptWarnings() const {
        const auto log = observer_.LogLines();
        return std::count_if(log.begin(), log.end(), [](const std::string& line) {
            return line.find("Server exception occured") != std::string::npos &&
                   line.find("accept") != std::string::npos;
        });
    }
};

TEST_F(AcceptBackoff, RunningOutOfDescriptorsIsLoggedOncePerEpisode) {
#if defined(__SANITIZE_ADDRESS__)
    // The sanitizers' own checks open descriptors (UBSan's check of a
    // std::system_error's dynamic type tests the memory through a pipe) and
    // report a false fault when there are none left; the normal build runs it.
    GTEST_SKIP() << "the sanitizer runtime needs descriptors of its own";
#endif
    options_.acceptRetry = {10ms, 40ms};
    ASSERT_TRUE(StartServer());
    for (std::size_t episode = 1; episode <= 2; ++episode) {
        SCOPED_TRACE("episode " + std::to_string(episode));
        std::unique_ptr<TestClient> client;
        {
            DescriptorsTaken taken;
            ASSERT_TRUE(taken.Exhausted());
            // The connection is made in the kernel; the server cannot accept it.
            taken.ReleaseOne();
            client = std::make_unique<TestClient>(port_);
            ASSERT_TRUE(observer_.WaitForLog("Too many open files"));
            // Many tries at the shortest delays, each failing like the first.
            std::this_thread::sleep_for(400ms);
            EXPECT_EQ(AcceptWarnings(), episode);
        }
        // A descriptor is free again: the next try takes the connection.
        client->ExpectBanner("Hello there.\r\n");
        EXPECT_EQ(AcceptWarnings(), episode);
    }
}

}  // namespace
}  // namespace qm::test
