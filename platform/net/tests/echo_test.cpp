#include "net/echo.h"
#include "net/net.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <grp.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <vector>

using namespace lt::net;

namespace {
// Runs fn in a child process and returns its exit code (-1 when it crashed).
template <class Fn>
int inChild(Fn fn)
{
    const pid_t pid = ::fork();
    if (pid == 0) ::_exit(fn());
    int st = 0;
    ::waitpid(pid, &st, 0);
    return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
}

bool dropToNobody() { return ::setgroups(0, nullptr) == 0 && ::setgid(65534) == 0 && ::setuid(65534) == 0; }

bool canOpen(int type)
{
    const int fd = ::socket(AF_INET, type, IPPROTO_ICMP);
    if (fd >= 0) ::close(fd);
    return fd >= 0;
}
}  // namespace

TEST(EchoStatus, TextsAndTheCurrentTimeout)
{
    EXPECT_EQ(EchoStatusText(-1), "-1   [Bad IP Format]");
    EXPECT_EQ(EchoStatusText(0), "0   [IP Success]");
    EXPECT_EQ(EchoStatusText(11010), "11010   [IP Request Timed Out]");
    EXPECT_EQ(EchoStatusText(11021), "11021   [IP MTU Changed]");
    EXPECT_EQ(EchoStatusText(12345), "12345   [Unknown Message Returned]");
    ASSERT_EQ(EchoTimeoutMs(), 1000);
    EXPECT_EQ(EchoStatusText(1000), "1000   [Ping Timeout]");

    // Every request recomputes the time-out, even one refused for its address.
    SetPingTimeoutSource([] { return 0; });
    EchoReplyBuffer reply;
    EXPECT_EQ(SendEcho("not an address", "x", reply), IP_BAD_FORMAT);
    EXPECT_EQ(EchoTimeoutMs(), 100);
    EXPECT_EQ(EchoStatusText(100), "100   [Ping Timeout]");
    EXPECT_EQ(EchoStatusText(1000), "1000   [Unknown Message Returned]");
    ResetEchoTimeout();
    EXPECT_EQ(EchoTimeoutMs(), 1000);
    SetPingTimeoutSource({});
}

TEST(EchoStatus, TimeoutFromPosition)
{
    EXPECT_EQ(EchoTimeoutForPosition(0), 100);
    EXPECT_EQ(EchoTimeoutForPosition(9), 1000);
    EXPECT_EQ(EchoTimeoutForPosition(19), 2000);
    EXPECT_EQ(EchoTimeoutForPosition(-1), 500);
    EXPECT_EQ(EchoTimeoutForPosition(std::int64_t(1) << 40), 2147483647);
}

TEST(SendEcho, RefusedBeforeSending)
{
    for (const char* bad : {"", "localhost", "1.2.3", "127.0.0.256", "127.0.0.1 x"}) {
        EchoReplyBuffer reply;
        EXPECT_EQ(SendEcho(bad, "Hello", reply), IP_BAD_FORMAT) << bad;
        EXPECT_EQ(reply.Status, IP_BAD_FORMAT);
        EXPECT_EQ(reply.DataSize, 0);
    }
    // More data than the reply can hold is a buffer error, not a success.
    EchoReplyBuffer reply;
    EXPECT_EQ(SendEcho("127.0.0.1", std::string(kEchoDataArea + 1, 'a'), reply), IP_BUF_TOO_SMALL);
}

TEST(SendEcho, LoopbackAnswers)
{
    ASSERT_TRUE(StartSockets());
    EchoReplyBuffer reply;
    const std::int32_t status = SendEcho("127.0.0.1", "Hello", reply);
    if (!EchoUnavailableReason().empty()) {
        StopSockets();
        GTEST_SKIP() << "no ICMP socket kind here: " << EchoUnavailableReason();
    }
    EXPECT_EQ(status, IP_SUCCESS) << EchoStatusText(status);
    EXPECT_EQ(reply.Status, IP_SUCCESS);
    EXPECT_EQ(formatDotted(reply.Address), "127.0.0.1");
    EXPECT_EQ(reply.DataSize, 5);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(reply.Data.data()), 5), "Hello");
    EXPECT_LT(reply.RoundTripTime, 1000u);

    // A full data area of every byte value comes back unchanged, from the
    // loopback address asked.
    std::string all;
    for (std::size_t i = 0; i < kEchoDataArea; ++i) all.push_back(char(i % 255 + 1));
    EchoReplyBuffer full;
    EXPECT_EQ(SendEcho("127.0.0.2", all, full), IP_SUCCESS);
    EXPECT_EQ(formatDotted(full.Address), "127.0.0.2");
    ASSERT_EQ(full.DataSize, kEchoDataArea);
    EXPECT_EQ(std::memcmp(full.Data.data(), all.data(), all.size()), 0);
    EXPECT_TRUE(StopSockets());
}

TEST(Sockets, StartAndStopPairUp)
{
    std::vector<std::string> warnings;
    SetSocketsWarningHandler([&](const std::string& w) { warnings.push_back(w); });
    EXPECT_FALSE(StopSockets());
    ASSERT_TRUE(StartSockets());
    ASSERT_TRUE(StartSockets());
    EXPECT_TRUE(StopSockets());
    EXPECT_TRUE(StopSockets());
    EXPECT_FALSE(StopSockets());
    EXPECT_EQ(warnings, (std::vector<std::string>{"Windows Sockets error occurred in Cleanup.",
                                                  "Windows Sockets error occurred in Cleanup."}));
    SetSocketsWarningHandler({});
}

TEST(PingPeer, RealEchoAndTheHook)
{
    std::vector<std::string> warnings;
    SetSocketsWarningHandler([&](const std::string& w) { warnings.push_back(w); });
    const std::int32_t real = PingPeer("127.0.0.1");
    if (EchoUnavailableReason().empty()) EXPECT_EQ(real, IP_SUCCESS) << EchoStatusText(real);
    else EXPECT_NE(real, IP_SUCCESS);
    EXPECT_EQ(PingPeer("no.such.peer"), IP_BAD_FORMAT);
    EXPECT_TRUE(warnings.empty()) << "every start was stopped once";
    EXPECT_FALSE(StopSockets());

    std::vector<std::string> asked;
    SetPingPeerHook([&](const std::string& a) { asked.push_back(a); return IP_REQ_TIMED_OUT; });
    EXPECT_EQ(PingPeer("127.0.0.1"), IP_REQ_TIMED_OUT);
    EXPECT_EQ(asked, std::vector<std::string>{"127.0.0.1"});
    SetPingPeerHook({});
    SetSocketsWarningHandler({});
}

// Without either socket kind the echo must not read as a success.
TEST(SendEcho, NoSocketKindIsAFailure)
{
    const int rc = inChild([] {
        if (::geteuid() == 0 && !dropToNobody()) return 3;
        if (canOpen(SOCK_DGRAM) || canOpen(SOCK_RAW)) return 2;
        EchoReplyBuffer reply;
        const std::int32_t s = SendEcho("127.0.0.1", "Hello", reply);
        if (s != IP_GENERAL_FAILURE || reply.Status != s || EchoUnavailableReason().empty()) return 1;
        // The same reason without sending anything, naming what would help.
        const std::string why = EchoUnavailable();
        return why == EchoUnavailableReason() && why.find("net.ipv4.ping_group_range") != std::string::npos &&
                       why.find("CAP_NET_RAW") != std::string::npos
                   ? 0
                   : 1;
    });
    if (rc == 2) GTEST_SKIP() << "an unprivileged user may open an ICMP socket here";
    if (rc == 3) GTEST_SKIP() << "cannot drop to an unprivileged user";
    EXPECT_EQ(rc, 0);
}

// The datagram socket kind, in a private network namespace where the ping
// group range admits everyone and the user has no raw-socket privilege.
TEST(SendEcho, DatagramSocketAnswers)
{
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to make a network namespace";
    const int rc = inChild([] {
        if (::unshare(CLONE_NEWNET) != 0) return 2;
        const int s = ::socket(AF_INET, SOCK_DGRAM, 0);
        ifreq ifr{};
        std::strcpy(ifr.ifr_name, "lo");
        ifr.ifr_flags = IFF_UP | IFF_LOOPBACK | IFF_RUNNING;
        if (::ioctl(s, SIOCSIFFLAGS, &ifr) != 0) return 2;
        ::close(s);
        const int f = ::open("/proc/sys/net/ipv4/ping_group_range", O_WRONLY);
        if (f < 0 || ::write(f, "0 2147483647", 12) != 12) return 2;
        ::close(f);
        if (!dropToNobody() || canOpen(SOCK_RAW) || !canOpen(SOCK_DGRAM)) return 2;
        EchoReplyBuffer reply;
        if (SendEcho("127.0.0.1", "Testing 123", reply) != IP_SUCCESS) return 1;
        return reply.DataSize == 11 && formatDotted(reply.Address) == "127.0.0.1" ? 0 : 1;
    });
    if (rc == 2) GTEST_SKIP() << "no private network namespace with datagram ICMP sockets here";
    EXPECT_EQ(rc, 0);
}
