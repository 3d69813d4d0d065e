// A Hayes modem played by a thread on the far end of a pseudo-terminal:
// AT commands get one chosen reply, dials of chosen numbers a chosen
// result (others nothing); every byte received is kept with its time.
#pragma once

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace modemtest {

using Clock = std::chrono::steady_clock;

class ScriptedModem {
public:
    explicit ScriptedModem(int fd) : m_fd(fd), m_thread([this] { run(); }) {}
    ~ScriptedModem()
    {
        m_stop = true;
        m_thread.join();
    }
    void answerDial(const std::string& number, const std::string& r) { locked([&] { m_dials[number] = r; }); }
    void answerCommands(const std::string& r) { locked([&] { m_commandReply = r; }); }
    bool dialSeen() const { return m_dialCount > 0; }
    std::string received() const
    {
        std::lock_guard<std::mutex> l(m_mutex);
        return m_received;
    }
    bool waitFor(const std::string& text, int ms) const
    {
        const auto until = Clock::now() + std::chrono::milliseconds(ms);
        while (received().find(text) == std::string::npos)
            if (Clock::now() >= until)
                return false;
            else
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
        return true;
    }
    // Milliseconds from the first a to the first b after it (-1: not seen).
    long gapBetween(char a, char b) const
    {
        std::lock_guard<std::mutex> l(m_mutex);
        const auto ia = m_received.find(a), ib = m_received.find(b, ia + 1);
        if (ia == std::string::npos || ib == std::string::npos)
            return -1;
        return long(std::chrono::duration_cast<std::chrono::milliseconds>(m_times[ib] - m_times[ia]).count());
    }

private:
    template <typename F> void locked(F f)
    {
        std::lock_guard<std::mutex> l(m_mutex);
        f();
    }
    void run()
    {
        std::string line;
        while (!m_stop) {
            pollfd p{m_fd, POLLIN, 0};
            char buf[256];
            const ssize_t n = poll(&p, 1, 20) > 0 && (p.revents & POLLIN) ? read(m_fd, buf, sizeof buf) : 0;
            locked([&] {
                m_received.append(buf, std::size_t(std::max<ssize_t>(n, 0)));
                m_times.resize(m_received.size(), Clock::now());
            });
            for (ssize_t i = 0; i < n; ++i)
                if (buf[i] != '\r')
                    line += buf[i];
                else
                    onLine(std::exchange(line, {}));
        }
    }
    void onLine(const std::string& line)
    {
        const auto at = line.find("AT");   // "+++" may stand before the command
        if (at == std::string::npos)
            return;
        std::string command = line.substr(at), answer;
        if (command.rfind("ATD", 0) == 0) {
            command.erase(0, command.size() > 3 && (command[3] == 'T' || command[3] == 'P') ? 4 : 3);
            locked([&] { answer = m_dials.count(command) ? m_dials[command] : ""; });
            ++m_dialCount;
        } else {
            locked([&] { answer = m_commandReply; });
        }
        if (!answer.empty()) {
            const std::string text = "\r\n" + answer + "\r\n";
            if (write(m_fd, text.data(), text.size()) < 0)
                return;
        }
    }

    int m_fd;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_dialCount{0};
    mutable std::mutex m_mutex;
    std::map<std::string, std::string> m_dials;
    std::string m_commandReply = "OK", m_received;
    std::vector<Clock::time_point> m_times;
    std::thread m_thread;
};

}  // namespace modemtest
