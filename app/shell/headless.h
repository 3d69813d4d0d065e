// The windowless mode: the sessions of one configuration file without any
// window, for servers.  Status-label changes go to standard output, one
// line each; message boxes go to standard error.
#pragma once

#include "session_host.h"
#include "session_workspace.h"

#include <array>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

namespace lintrel {

class HeadlessRunner : public SessionWorkspace, public SessionHost {
public:
    HeadlessRunner(std::ostream& out, std::ostream& err, bool timestamps = false)
        : m_out(out), m_err(err), m_timestamps(timestamps) {}
    ~HeadlessRunner() override;

    // Start-up: loads the file (the default file when empty), resets the
    // virtual ports when no other instance runs, activates the sessions
    // saved as active.
    void start(const std::string& file);

    // SessionWorkspace
    std::size_t sessionCount() const override { return m_sessions.size(); }
    Session& session(std::size_t i) override { return *m_sessions.at(i)->session; }
    Session& NewSession() override;
    void closeAllSessions() override;
    int windowState() const override { return m_state; }
    void setWindowState(int state) override { m_state = state; }

    // SessionHost: no dialogs here, so option edits never come back.
    void messageBox(const std::string& text, const std::string& title) override;
    void showServerOptions() override {}
    void showClientOptions() override {}

private:
    struct Entry {
        std::unique_ptr<Session> session;
        std::array<std::string, 2> shown;   // the status texts last printed
    };
    void report(Entry& e, std::size_t number);

    std::ostream& m_out;
    std::ostream& m_err;
    std::vector<std::unique_ptr<Entry>> m_sessions;
    int m_state = kStateNormal;
    bool m_timestamps;
};

// Options of the windowless mode.
struct HeadlessOptions {
    bool timestamps = true;   // each status line starts with the local time, ISO 8601 to the ms
};

// Runs the windowless mode until SIGINT or SIGTERM; the file is not
// rewritten.  Needs a Qt application object.  Returns the exit code: 0
// after a signal, 2 when a file named on the command line cannot be read.
int runHeadless(const std::string& file, const HeadlessOptions& options = {});

// Why a configuration file named on the command line cannot be loaded;
// empty when it can be read.
std::string unreadableReason(const std::string& file);

}  // namespace lintrel
