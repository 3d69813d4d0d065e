#include "scripted_modem.h"

#include <poll.h>
#include <unistd.h>

namespace modemtest {

ScriptedModem::ScriptedModem(int masterFd) : m_fd(masterFd), m_thread([this] { run(); }) {}

ScriptedModem::~ScriptedModem()
{
    m_stop = true;
    m_thread.join();
}

void ScriptedModem::answerDial(const std::string& number, const std::string& reply)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_dialReplies[number] = reply;
}

void ScriptedModem::answerCommands(const std::string& reply)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_commandReply = reply;
}

std::string ScriptedModem::received() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_received;
}

bool ScriptedModem::waitFor(const std::string& text, int ms) const
{
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (received().find(text) == std::string::npos) {
        if (std::chrono::steady_clock::now() >= until)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

long ScriptedModem::gapBetween(char a, char b) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto ia = m_received.find(a);
    if (ia == std::string::npos)
        return -1;
    const auto ib = m_received.find(b, ia + 1);
    if (ib == std::string::npos)
        return -1;
    return long(std::chrono::duration_cast<std::chrono::milliseconds>(m_times[ib] - m_times[ia]).count());
}

void ScriptedModem::run()
{
    std::string line;
    while (!m_stop) {
        pollfd p{m_fd, POLLIN, 0};
        if (poll(&p, 1, 20) <= 0 || !(p.revents & POLLIN))
            continue;
        char buffer[256];
        const ssize_t n = read(m_fd, buffer, sizeof buffer);
        if (n <= 0)
            continue;
        const auto now = std::chrono::steady_clock::now();
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_received.append(buffer, std::size_t(n));
            m_times.insert(m_times.end(), std::size_t(n), now);
        }
        for (ssize_t i = 0; i < n; ++i) {
            if (buffer[i] == '\r') {
                onLine(line);
                line.clear();
            } else {
                line += buffer[i];
            }
        }
    }
}

void ScriptedModem::onLine(const std::string& line)
{
    // "+++" and pauses may stand before the command.
    const auto at = line.find("AT");
    if (at == std::string::npos)
        return;
    const std::string command = line.substr(at);
    std::string answer;
    if (command.rfind("ATD", 0) == 0) {
        std::string number = command.substr(3);
        if (!number.empty() && (number[0] == 'T' || number[0] == 'P'))
            number.erase(0, 1);
        ++m_dials;
        std::lock_guard<std::mutex> lock(m_mutex);
        const auto it = m_dialReplies.find(number);
        if (it != m_dialReplies.end())
            answer = it->second;
    } else {
        std::lock_guard<std::mutex> lock(m_mutex);
        answer = m_commandReply;
    }
    if (!answer.empty())
        reply("\r\n" + answer + "\r\n");
}

void ScriptedModem::reply(const std::string& text)
{
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = write(m_fd, text.data() + done, text.size() - done);
        if (n <= 0)
            return;
        done += std::size_t(n);
    }
}

}  // namespace modemtest
