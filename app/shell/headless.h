// The windowless mode: the sessions of one configuration file without any
// window, for servers.  Status-label changes go to standard output, one
// line each; message boxes go to standard error.
#pragma once

#include "config_file.h"
#include "session_host.h"
#include "session_workspace.h"
#include "trace_file.h"

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

namespace lintrel {

// One output stream of the windowless mode.  A line is written whole:
// after the local time when stamped; under the journal, after its syslog
// priority ("<3>" for errors) and without a time of its own.
class LineStream {
public:
    enum Priority { Error = 3, Warning = 4, Notice = 5, Info = 6 };
    LineStream(std::ostream& out, bool timestamps) : m_out(out), m_timestamps(timestamps) {}
    void setJournal(bool on) { m_journal = on; }
    void line(Priority priority, const std::string& text);

private:
    std::ostream& m_out;
    bool m_timestamps;
    bool m_journal = false;
};

class HeadlessRunner : public SessionWorkspace, public SessionHost {
public:
    HeadlessRunner(std::ostream& out, std::ostream& err, bool timestamps = false)
        : m_out(out, timestamps), m_err(err, false) {}
    ~HeadlessRunner() override;

    // Lines for the journal on standard output and standard error.
    void setJournal(bool out, bool err);

    // Each session writes a trace file into folder (see TraceFile), rotated
    // at bound bytes.  Call before start().  A folder that cannot be made or
    // written gives one error line and no traces.
    void setTraceFolder(const std::string& folder, std::uint64_t bound);

    // Start-up: loads the file (the default file when empty), resets the
    // virtual ports when no other instance runs, activates the sessions
    // saved as active.  Returns why the file was refused, empty when
    // loaded.
    std::string start(const std::string& file);

    // Reads the file again.  Sessions whose section is as before keep
    // running with their clients; a changed one is stopped and started
    // anew, new ones start, removed ones stop, and sessions saved as
    // active that are not (a failed start) are tried again.  The global
    // options are replaced.  One line tells what changed.  A file that
    // cannot be read or loaded changes nothing and gives an error line;
    // false then.
    bool reload(const std::string& file);

    // "2 of 3 sessions active, 4 clients connected".
    std::string summary();

    // Called after a session's status changed.
    std::function<void()> statusChanged;

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
        std::unique_ptr<TraceFile> trace;   // before the session: it goes after it
        std::unique_ptr<Session> session;
        std::array<std::string, 2> shown;   // the status texts last printed
        std::size_t number = 0;             // 1-based, as the status lines name it
        SectionForm form;                   // its section when it was loaded
    };
    void report(Entry& e);
    void noteForms(const std::string& path);
    void stop(Entry& e);
    void attachTraces();

    LineStream m_out;
    LineStream m_err;
    std::vector<std::unique_ptr<Entry>> m_sessions;
    SectionForm m_options;   // the global section but NumSessions, as loaded
    int m_state = kStateNormal;
    std::string m_traceFolder;
    std::uint64_t m_traceBound = 0;
};

// For each section of a new load: the index of the running session with
// the same form, or -1 (it must be started).  The same position is
// preferred, then the first unmatched one, so that reordering the file
// does not restart sessions.
std::vector<int> matchSessions(const std::vector<SectionForm>& running,
                               const std::vector<SectionForm>& loaded);

// Options of the windowless mode.
struct HeadlessOptions {
    bool timestamps = true;   // each status line starts with the local time, ISO 8601 to the ms
    std::string traceFolder;  // a trace file per session there; empty: none
    std::uint64_t traceBound = TraceFile::kDefaultBound;
};

// Runs the windowless mode until SIGINT or SIGTERM; SIGHUP reloads the
// file.  The file is not rewritten.  Under a service manager it reports
// readiness, a status line and the watchdog.  Needs a Qt application
// object.  Returns the exit code: 0 after a signal, 2 when a file named on
// the command line cannot be read or loaded.
int runHeadless(const std::string& file, const HeadlessOptions& options = {});

// Why a configuration file named on the command line cannot be loaded;
// empty when it can be read.
std::string unreadableReason(const std::string& file);

}  // namespace lintrel
