#include "service/service.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <sys/stat.h>

#ifdef LT_HAVE_LIBSYSTEMD
#include <systemd/sd-daemon.h>
#endif

namespace lt::service {

bool supported()
{
#ifdef LT_HAVE_LIBSYSTEMD
    return true;
#else
    return false;
#endif
}

bool notify(const std::string& state)
{
#ifdef LT_HAVE_LIBSYSTEMD
    // Keep $NOTIFY_SOCKET: a reload later sends again.  The manager takes
    // messages from the main process only (NotifyAccess=main), so the
    // programs run on error cannot speak for this one.
    return sd_notify(0, state.c_str()) > 0;
#else
    (void)state;
    return false;
#endif
}

std::chrono::milliseconds watchdogPeriod()
{
#ifdef LT_HAVE_LIBSYSTEMD
    std::uint64_t usec = 0;
    if (sd_watchdog_enabled(0, &usec) > 0 && usec > 0)
        return std::chrono::milliseconds(std::max<std::uint64_t>(usec / 2000, 1));
#endif
    return std::chrono::milliseconds(0);
}

bool isJournalStream(int standardStream)
{
    if (standardStream != 1 && standardStream != 2)
        return false;
    const char* value = std::getenv("JOURNAL_STREAM");
    if (!value || !*value)
        return false;
    unsigned long long device = 0, inode = 0;
    if (std::sscanf(value, "%llu:%llu", &device, &inode) != 2)
        return false;
    // The variable is inherited: only the stream it was made for counts,
    // not one a shell redirected elsewhere later.
    struct stat st = {};
    if (::fstat(standardStream, &st) != 0)
        return false;
    return static_cast<unsigned long long>(st.st_dev) == device &&
           static_cast<unsigned long long>(st.st_ino) == inode;
}

}  // namespace lt::service
