// The service manager's side played by the test: a datagram socket named
// in $NOTIFY_SOCKET, the watchdog variables, $JOURNAL_STREAM.
#include "service/service.h"

#include "temp_dir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

class NotifySocket {
public:
    explicit NotifySocket(const std::string& path)
    {
        fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_un a = {};
        a.sun_family = AF_UNIX;
        path.copy(a.sun_path, sizeof a.sun_path - 1);
        bound = ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
        ::setenv("NOTIFY_SOCKET", path.c_str(), 1);
    }
    ~NotifySocket()
    {
        ::unsetenv("NOTIFY_SOCKET");
        ::close(fd);
    }
    // The next datagram, empty after a second without one.
    std::string next()
    {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 1000) != 1)
            return {};
        char buf[4096];
        const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        return n > 0 ? std::string(buf, std::size_t(n)) : std::string();
    }
    int fd = -1;
    bool bound = false;
};

}  // namespace

TEST(Service, NotificationsReachTheSocketTheManagerNamed)
{
    if (!lt::service::supported())
        GTEST_SKIP() << "built without libsystemd";
    ::unsetenv("NOTIFY_SOCKET");
    EXPECT_FALSE(lt::service::notify("READY=1"));   // not started by a manager: nothing sent

    testsupport::TempDir dir;
    NotifySocket manager(dir.file("notify"));
    ASSERT_TRUE(manager.bound);
    EXPECT_TRUE(lt::service::notify("READY=1\nSTATUS=1 of 2 sessions active, 3 clients"));
    EXPECT_EQ(manager.next(), "READY=1\nSTATUS=1 of 2 sessions active, 3 clients");
    EXPECT_TRUE(lt::service::notify("STOPPING=1"));
    EXPECT_EQ(manager.next(), "STOPPING=1");
}

TEST(Service, TheWatchdogPeriodIsHalfWhatTheManagerAsks)
{
    ::unsetenv("WATCHDOG_PID");
    ::unsetenv("WATCHDOG_USEC");
    EXPECT_EQ(lt::service::watchdogPeriod().count(), 0);
    ::setenv("WATCHDOG_USEC", "3000000", 1);
    EXPECT_EQ(lt::service::watchdogPeriod().count(), lt::service::supported() ? 1500 : 0);
    // Meant for another process (a parent that runs this one): not ours.
    ::setenv("WATCHDOG_PID", std::to_string(::getpid() + 1).c_str(), 1);
    EXPECT_EQ(lt::service::watchdogPeriod().count(), 0);
    ::unsetenv("WATCHDOG_PID");
    ::unsetenv("WATCHDOG_USEC");
}

TEST(Service, OnlyTheStreamJournalStreamNamesIsTheJournal)
{
    struct stat st = {};
    ASSERT_EQ(::fstat(2, &st), 0);
    const std::string mine = std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino);
    ::setenv("JOURNAL_STREAM", mine.c_str(), 1);
    EXPECT_TRUE(lt::service::isJournalStream(2));
    EXPECT_FALSE(lt::service::isJournalStream(0));
    const std::string other = std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino + 1);
    ::setenv("JOURNAL_STREAM", other.c_str(), 1);
    EXPECT_FALSE(lt::service::isJournalStream(2));
    ::setenv("JOURNAL_STREAM", "not numbers", 1);
    EXPECT_FALSE(lt::service::isJournalStream(2));
    ::unsetenv("JOURNAL_STREAM");
    EXPECT_FALSE(lt::service::isJournalStream(2));
}
