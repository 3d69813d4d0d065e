// The control socket with real peers: the answer, garbage, peers that send
// nothing or do not read, other users, a socket left behind.
#include "control/control.h"

#include "pump.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <future>
#include <thread>

#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

using lt::control::RequestServer;
using testsupport::pumpUntil;

namespace {

struct Asked {
    bool ok = false;
    std::string answer, why;
};

// ask() blocks, so it runs on a thread of its own while this one pumps
// the server's events.
Asked askPumping(const std::string& path, const std::string& request, int timeoutMs = 3000)
{
    auto f = std::async(std::launch::async, [&] {
        Asked a;
        a.ok = lt::control::ask(path, request, a.answer, &a.why, timeoutMs);
        return a;
    });
    pumpUntil([&] { return f.wait_for(std::chrono::seconds(0)) == std::future_status::ready; },
              timeoutMs + 2000);
    return f.get();
}

int rawConnect(const std::string& path)
{
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// Whether the server closed the connection (reading gives end of file or
// a reset) within ms, pumping meanwhile.
bool closedByServer(int fd, int ms)
{
    return pumpUntil([&] {
        char c;
        const ssize_t n = ::recv(fd, &c, 1, MSG_DONTWAIT);
        return n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK);
    }, ms);
}

class ControlSocket : public ::testing::Test {
protected:
    void SetUp() override
    {
        path = dir.file("lintrel.test.sock");
        ASSERT_TRUE(server.listen(path, &why)) << why;
    }
    testsupport::TempDir dir;
    std::string path, why;
    RequestServer server{[](const std::string& r) -> std::string {
        if (r == "status")
            return "{\"ok\":true}\n";
        if (r == "big")
            return std::string(8 << 20, 'x');
        return {};
    }};
};

TEST_F(ControlSocket, AnswersARequestAndOnlyItsOwnerMayOpenIt)
{
    const Asked a = askPumping(path, "status");
    ASSERT_TRUE(a.ok) << a.why;
    EXPECT_EQ(a.answer, "{\"ok\":true}\n");
    struct stat st{};
    ASSERT_EQ(::lstat(path.c_str(), &st), 0);
    EXPECT_TRUE(S_ISSOCK(st.st_mode));
    EXPECT_EQ(st.st_mode & 077, 0u);
    EXPECT_EQ(server.dropped(), 0);
    // A second one right after: each connection gets its answer.
    EXPECT_TRUE(askPumping(path, "status").ok);
}

TEST_F(ControlSocket, GarbageIsDroppedAndTheServerGoesOn)
{
    Asked a = askPumping(path, "rm -rf /");
    EXPECT_FALSE(a.ok);
    EXPECT_EQ(a.why, "no answer");
    a = askPumping(path, std::string(5000, 'A'));   // no line end within the bound
    EXPECT_FALSE(a.ok);
    a = askPumping(path, std::string("stat\0us", 7));
    EXPECT_FALSE(a.ok);
    EXPECT_EQ(server.dropped(), 3);
    a = askPumping(path, "status");
    EXPECT_TRUE(a.ok) << a.why;
}

TEST_F(ControlSocket, PeersThatSayNothingOrDoNotReadAreDropped)
{
    const int silent = rawConnect(path);
    ASSERT_GE(silent, 0);
    const int deaf = rawConnect(path);
    ASSERT_GE(deaf, 0);
    ASSERT_EQ(::send(deaf, "big\n", 4, 0), 4);   // an answer far larger than the socket takes
    // Meanwhile others are answered.
    EXPECT_TRUE(askPumping(path, "status").ok);
    EXPECT_TRUE(closedByServer(silent, RequestServer::kTimeoutMs + 2000));
    EXPECT_TRUE(pumpUntil([&] { return server.dropped() == 2; }, RequestServer::kTimeoutMs + 2000));
    ::close(silent);
    ::close(deaf);
    EXPECT_TRUE(askPumping(path, "status").ok);
}

TEST_F(ControlSocket, TooManyPeersAtOnceAreTurnedAway)
{
    std::vector<int> fds;
    for (int i = 0; i < RequestServer::kMaxPeers + 3; ++i)
        fds.push_back(rawConnect(path));
    EXPECT_TRUE(pumpUntil([&] { return server.dropped() == 3; }));
    for (int fd : fds)
        ::close(fd);
    // The held ones go when their peers close; then there is room again.
    pumpUntil([] { return false; }, 200);
    EXPECT_TRUE(askPumping(path, "status").ok);
}

TEST_F(ControlSocket, AnotherUserIsRefused)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to act as another user";
    const passwd* nobody = ::getpwnam("nobody");
    ASSERT_NE(nobody, nullptr);
    // The folder and even the socket opened to all: the server still
    // refuses a peer of another user.
    ::chmod(dir.path().c_str(), 0755);
    ::chmod(path.c_str(), 0777);
    std::atomic<int> status{-1};
    std::thread child([&] {
        const pid_t pid = ::fork();
        if (pid == 0) {
            if (::setgid(nobody->pw_gid) != 0 || ::setuid(nobody->pw_uid) != 0)
                ::_exit(3);
            std::string answer, why;
            ::_exit(lt::control::ask(path, "status", answer, &why, 2000) ? 0 : 1);
        }
        int st = 0;
        ::waitpid(pid, &st, 0);
        status = WIFEXITED(st) ? WEXITSTATUS(st) : 99;
    });
    pumpUntil([&] { return status != -1; }, 5000);
    child.join();
    EXPECT_EQ(status, 1);
    EXPECT_EQ(server.dropped(), 1);
    // With the socket's own mode, connecting fails before that.
    ::chmod(path.c_str(), 0700);
}

TEST(ControlSocketPath, ASocketLeftBehindIsReplacedAndNotRunningIsSaid)
{
    testsupport::TempDir dir;
    const std::string path = dir.file("lintrel.1.sock");
    {
        // Bound and closed without removing: what a killed program leaves.
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
        ::close(fd);
    }
    std::string answer, why;
    EXPECT_FALSE(lt::control::ask(path, "status", answer, &why, 500));
    EXPECT_EQ(why, "not running");

    RequestServer server([](const std::string&) { return std::string("yes\n"); });
    ASSERT_TRUE(server.listen(path, &why)) << why;
    EXPECT_EQ(askPumping(path, "anything").answer, "yes\n");
    server.close();
    struct stat st{};
    EXPECT_NE(::lstat(path.c_str(), &st), 0);   // closing removes it
}

}  // namespace
