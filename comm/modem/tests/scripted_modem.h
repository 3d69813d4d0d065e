// A Hayes modem played by a thread on the far end of a pseudo-terminal:
// it answers AT commands with a chosen reply and dials of chosen numbers
// with a chosen result (or nothing), and records every byte it received
// with its arrival time.
#pragma once

#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace modemtest {

class ScriptedModem {
public:
    explicit ScriptedModem(int masterFd);
    ~ScriptedModem();
    ScriptedModem(const ScriptedModem&) = delete;
    ScriptedModem& operator=(const ScriptedModem&) = delete;

    // The answer to "ATD<T|P>number"; numbers without one get no answer.
    void answerDial(const std::string& number, const std::string& reply);
    // The answer to any other AT command ("OK", "ERROR"; empty: silence).
    void answerCommands(const std::string& reply);

    std::string received() const;
    bool dialSeen() const { return m_dials > 0; }
    // Waits until the received bytes contain text.
    bool waitFor(const std::string& text, int ms) const;
    // Milliseconds between the arrival of the first a and the first b
    // after it; -1 when they did not come.
    long gapBetween(char a, char b) const;

private:
    void run();
    void onLine(const std::string& line);
    void reply(const std::string& text);

    int m_fd;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_dials{0};
    mutable std::mutex m_mutex;
    std::map<std::string, std::string> m_dialReplies;
    std::string m_commandReply = "OK";
    std::string m_received;
    std::vector<std::chrono::steady_clock::time_point> m_times;
    std::thread m_thread;
};

}  // namespace modemtest
