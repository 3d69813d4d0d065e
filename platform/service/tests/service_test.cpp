// What the service manager tells the program through the environment: the
// watchdog and the journal stream.  Notifications themselves are tested
// end to end with the windowless mode.
#include "service/service.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include <sys/stat.h>
#include <unistd.h>

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
