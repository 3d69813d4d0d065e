#include "pty_pair.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <stdexcept>
#include <termios.h>
#include <unistd.h>

namespace testsupport {

PtyPair::PtyPair()
{
    m_master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (m_master < 0 || grantpt(m_master) != 0 || unlockpt(m_master) != 0)
        throw std::runtime_error("cannot open a pseudo-terminal");
    const char* name = ptsname(m_master);
    if (!name)
        throw std::runtime_error("ptsname failed");
    m_slave = name;
    // Holding the slave open keeps the master from reading EIO/POLLHUP while
    // the port under test is closed, and lets us put the line in raw mode.
    m_keepSlave = ::open(m_slave.c_str(), O_RDWR | O_NOCTTY);
    if (m_keepSlave < 0)
        throw std::runtime_error("cannot open the pseudo-terminal slave");
    termios t{};
    tcgetattr(m_keepSlave, &t);
    cfmakeraw(&t);
    tcsetattr(m_keepSlave, TCSANOW, &t);
}

PtyPair::~PtyPair()
{
    if (m_keepSlave >= 0)
        ::close(m_keepSlave);
    if (m_master >= 0)
        ::close(m_master);
}

void PtyPair::send(const std::string& bytes)
{
    std::size_t done = 0;
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (done < bytes.size() && std::chrono::steady_clock::now() < until) {
        ssize_t n = ::write(m_master, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += std::size_t(n);
        } else {
            pollfd p{m_master, POLLOUT, 0};
            ::poll(&p, 1, 20);
        }
    }
    ASSERT_EQ(done, bytes.size()) << "pseudo-terminal master did not take the bytes";
}

std::size_t PtyPair::trySend(const std::string& bytes)
{
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(m_master, bytes.data() + done, bytes.size() - done);
        if (n <= 0)
            break;
        done += std::size_t(n);
    }
    return done;
}

void PtyPair::hangUp()
{
    if (m_keepSlave >= 0)
        ::close(m_keepSlave);
    if (m_master >= 0)
        ::close(m_master);
    m_keepSlave = m_master = -1;
}

std::string PtyPair::receive(std::size_t count, int ms)
{
    std::string out;
    auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (out.size() < count) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now()).count();
        if (left <= 0)
            break;
        pollfd p{m_master, POLLIN, 0};
        if (::poll(&p, 1, int(left)) <= 0)
            continue;
        char buf[4096];
        ssize_t n = ::read(m_master, buf, std::min(sizeof buf, count - out.size()));
        if (n > 0)
            out.append(buf, std::size_t(n));
    }
    return out;
}

PortsMap::PortsMap()
{
    char templ[] = "/tmp/lintrel-ports-XXXXXX";
    int fd = mkstemp(templ);
    if (fd < 0)
        throw std::runtime_error("mkstemp failed");
    ::close(fd);
    m_file = templ;
    write();
    setenv("LINTREL_PORTS", m_file.c_str(), 1);
}

PortsMap::~PortsMap()
{
    unsetenv("LINTREL_PORTS");
    std::remove(m_file.c_str());
}

void PortsMap::map(int comNumber, const std::string& path)
{
    // A number mapped again moves to the new path (the first entry wins).
    const std::string key = "COM" + std::to_string(comNumber) + "=";
    std::erase_if(m_lines, [&](const std::string& l) { return l.rfind(key, 0) == 0; });
    m_lines.push_back(key + path);
    write();
}

void PortsMap::write()
{
    std::ofstream f(m_file, std::ios::trunc);
    f << "[Ports]\r\n";
    for (const auto& l : m_lines)
        f << l << "\r\n";
}

}  // namespace testsupport
