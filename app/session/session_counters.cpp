#include "session_counters.h"

namespace lintrel {

ClientCounters& SessionCounters::open(int index, const std::string& address, int port, std::int64_t nowMs)
{
    if (index < 0)
        index = 0;
    if (std::size_t(index) >= clients.size())
        clients.resize(std::size_t(index) + 1);
    ClientCounters& c = clients[std::size_t(index)];
    c = ClientCounters{address, port, nowMs, 0, 0, true};
    ++opened;
    return c;
}

bool SessionCounters::close(int index)
{
    if (index < 0 || std::size_t(index) >= clients.size() || !clients[std::size_t(index)].open)
        return false;
    clients[std::size_t(index)].open = false;
    ++closed;
    return true;
}

void SessionCounters::reset(std::int64_t nowMs)
{
    *this = SessionCounters{};
    activeSinceMs = nowMs;
}

}  // namespace lintrel
