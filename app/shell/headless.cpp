#include "headless.h"

#include "config_file.h"
#include "quit_signals.h"
#include "registration.h"
#include "startup.h"
#include "status_report.h"

#include "kvd/kvd.h"
#include "service/service.h"
#include "winsock/socket_control.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <iostream>

namespace lintrel {

namespace {

// The local time with its offset from UTC, to the millisecond:
// 2026-12-08T09:37:35.123+01:00.
std::string timestamp()
{
    const QDateTime now = QDateTime::currentDateTime();
    return now.toOffsetFromUtc(now.offsetFromUtc()).toString(Qt::ISODateWithMs).toStdString();
}

// How much a status text matters to whoever reads the journal.
LineStream::Priority statusPriority(const std::string& text)
{
    if (text.find("Error") != std::string::npos)
        return LineStream::Error;
    if (text.rfind("Cannot ", 0) == 0 || text.find("not closed") != std::string::npos ||
        text.find("monitoring off") != std::string::npos)
        return LineStream::Warning;
    return LineStream::Info;
}

SectionForm optionsForm(SessionWorkspace& w, const std::string& file)
{
    // The session count is what the sessions themselves show; the rest are
    // the options.
    SectionForm form = globalForm(w, file);
    std::erase_if(form, [](const auto& kv) { return kv.first == "NumSessions"; });
    return form;
}

std::string count(std::size_t n, const char* one, const char* many)
{
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

}  // namespace

void LineStream::line(Priority priority, const std::string& text)
{
    if (m_journal)
        m_out << '<' << int(priority) << '>';
    else if (m_timestamps)
        m_out << timestamp() << ' ';
    m_out << text << std::endl;
}

std::string unreadableReason(const std::string& file)
{
    const QFileInfo info(QString::fromStdString(file));
    if (!info.exists())
        return "no such file";
    if (info.isDir())
        return "it is a folder";
    QFile f(info.absoluteFilePath());
    if (!f.open(QIODevice::ReadOnly))
        return f.errorString().toStdString();
    return {};
}

std::vector<int> matchSessions(const std::vector<SectionForm>& running,
                               const std::vector<SectionForm>& loaded)
{
    std::vector<int> from(loaded.size(), -1);
    std::vector<bool> taken(running.size(), false);
    for (std::size_t i = 0; i < loaded.size() && i < running.size(); ++i)
        if (loaded[i] == running[i]) {
            from[i] = int(i);
            taken[i] = true;
        }
    for (std::size_t i = 0; i < loaded.size(); ++i) {
        if (from[i] >= 0)
            continue;
        for (std::size_t j = 0; j < running.size(); ++j)
            if (!taken[j] && loaded[i] == running[j]) {
                from[i] = int(j);
                taken[j] = true;
                break;
            }
    }
    return from;
}

HeadlessRunner::~HeadlessRunner()
{
    closeAllSessions();
}

void HeadlessRunner::setJournal(bool out, bool err)
{
    m_out.setJournal(out);
    m_err.setJournal(err);
}

std::string HeadlessRunner::start(const std::string& file)
{
    AutoActivateFlags.assign(2, 0);
    std::string why = getprofilesettings(*this, file);
    const std::string path = file.empty() ? defaultConfigFile() : file;
    noteForms(path);
    m_options = optionsForm(*this, path);
    attachTraces();
    resetVirtualPortsIfAlone(*this);
    activateFlaggedSessions();
    return why;
}

// Remembers each session's section as loaded: a reload compares with
// that, not with what the session shows now (a program on its virtual
// port may have changed the line settings since).
void HeadlessRunner::noteForms(const std::string& path)
{
    for (std::size_t i = 0; i < m_sessions.size(); ++i) {
        Entry& e = *m_sessions[i];
        e.number = i + 1;
        e.form = sessionForm(*e.session, i + 1,
                             i + 1 < AutoActivateFlags.size() && AutoActivateFlags[i + 1] == 1, path);
    }
}

void HeadlessRunner::stop(Entry& e)
{
    if (e.session->isActive())
        e.session->Command1_Click();
}

bool HeadlessRunner::reload(const std::string& file)
{
    const std::string path = file.empty() ? defaultConfigFile() : file;
    std::string why = unreadableReason(path);
    if (why.empty())
        why = configFileProblem(path);
    if (!why.empty()) {
        m_out.line(LineStream::Error, "Reload: cannot load " + path + ": " + why + "; nothing changed");
        return false;
    }
    const SectionForm optionsBefore = m_options;
    std::vector<std::unique_ptr<Entry>> running = std::move(m_sessions);
    m_sessions.clear();
    AutoActivateFlags.assign(2, 0);
    why = getprofilesettings(*this, file);
    if (!why.empty()) {   // the file changed again since it was looked at
        m_sessions = std::move(running);
        m_out.line(LineStream::Error, "Reload: cannot load " + path + ": " + why + "; nothing changed");
        return false;
    }
    noteForms(path);
    m_options = optionsForm(*this, path);
    const std::vector<std::int16_t> flags = AutoActivateFlags;
    AutoActivateFlags.assign(2, 0);

    std::vector<SectionForm> before, after;
    for (const auto& e : running)
        before.push_back(e->form);
    for (const auto& e : m_sessions)
        after.push_back(e->form);
    const std::vector<int> from = matchSessions(before, after);
    std::vector<bool> kept(running.size(), false);
    for (int j : from)
        if (j >= 0)
            kept[std::size_t(j)] = true;

    std::size_t unchanged = 0, changed = 0, added = 0, removed = 0, retried = 0;
    for (std::size_t i = 0; i < from.size(); ++i) {
        if (from[i] >= 0)
            ++unchanged;
        else if (i < running.size() && !kept[i])
            ++changed;
        else
            ++added;
    }
    // Stop first: a changed session may want the port its old self holds.
    for (std::size_t j = 0; j < running.size(); ++j) {
        if (kept[j])
            continue;
        if (j >= from.size() || from[j] >= 0)
            ++removed;
        stop(*running[j]);
        running[j].reset();
    }
    for (std::size_t i = 0; i < from.size(); ++i) {
        if (from[i] < 0)
            continue;
        m_sessions[i] = std::move(running[std::size_t(from[i])]);
        m_sessions[i]->number = i + 1;
    }
    attachTraces();
    for (std::size_t i = 0; i < m_sessions.size(); ++i) {
        Session& s = *m_sessions[i]->session;
        if (i + 1 < flags.size() && flags[i + 1] == 1 && !s.isActive()) {
            if (from[i] >= 0)
                ++retried;
            s.Command1_Click();
        }
    }

    std::string text = "Reload: " + count(unchanged, "session unchanged", "sessions unchanged") + ", " +
                       std::to_string(changed) + " changed, " + std::to_string(added) + " new, " +
                       std::to_string(removed) + " removed";
    if (retried)
        text += ", " + std::to_string(retried) + " started again";
    text += m_options == optionsBefore ? "; options unchanged" : "; options changed";
    m_out.line(LineStream::Notice, text);
    if (statusChanged)
        statusChanged();
    return true;
}

std::string HeadlessRunner::summary()
{
    std::size_t active = 0, clients = 0;
    for (const auto& e : m_sessions) {
        Session& s = *e->session;
        active += s.isActive() ? 1 : 0;
        for (int k = 0; k < s.socketCount(); ++k)
            clients += s.Winsock1(k).state() == lt::winsock::SockState::Connected ? 1 : 0;
    }
    return std::to_string(active) + " of " + count(m_sessions.size(), "session", "sessions") +
           " active, " + count(clients, "client", "clients") + " connected";
}

Session& HeadlessRunner::NewSession()
{
    auto e = std::make_unique<Entry>();
    e->session = std::make_unique<Session>(this);
    Session& s = *e->session;
    s.Caption = kNewCaption;
    e->shown = {s.StatusBar1[0].text, s.StatusBar1[1].text};
    e->number = m_sessions.size() + 1;
    Entry* raw = e.get();
    s.changed = [this, raw] { report(*raw); };
    s.clientChanged = [this, raw](const ClientCounters& c, bool connected) {
        m_out.line(LineStream::Info, "Session" + std::to_string(raw->number) + ": client " + c.name() +
                                         (connected ? " connected" : " disconnected"));
    };
    m_sessions.push_back(std::move(e));
    return s;
}

void HeadlessRunner::closeAllSessions()
{
    while (!m_sessions.empty())
        m_sessions.pop_back();
}

void HeadlessRunner::report(Entry& e)
{
    bool any = false;
    for (std::size_t k = 0; k < 2; ++k) {
        const std::string& now = e.session->StatusBar1[k].text;
        if (now == e.shown[k])
            continue;
        e.shown[k] = now;
        m_out.line(statusPriority(now), "Session" + std::to_string(e.number) + ": " + now);
        any = true;
    }
    if (any && statusChanged)
        statusChanged();
}

void HeadlessRunner::setTraceFolder(const std::string& folder, std::uint64_t bound)
{
    m_traceFolder.clear();
    m_traceBound = bound;
    if (folder.empty())
        return;
    const QFileInfo info(QString::fromStdString(folder));
    std::string why;
    if (!QDir().mkpath(info.absoluteFilePath()))
        why = "cannot be made";
    else if (!info.isDir())
        why = "is not a folder";
    else if (!QFileInfo(info.absoluteFilePath()).isWritable())
        why = "cannot be written";
    if (!why.empty()) {
        m_err.line(LineStream::Error, "lintrel: trace folder " + folder + " " + why + "; no traces are written");
        return;
    }
    m_traceFolder = info.absoluteFilePath().toStdString();
}

// Sessions without a trace get one, named by their number and port as
// they are now.
void HeadlessRunner::attachTraces()
{
    if (m_traceFolder.empty())
        return;
    for (const auto& e : m_sessions) {
        if (e->trace)
            continue;
        Session& s = *e->session;
        const std::string port = s.Combo2.index > 0 ? s.Combo2.text() : "NONE";
        e->trace = std::make_unique<TraceFile>(
            m_traceFolder + "/session" + std::to_string(e->number) + "-" + port + ".trace", m_traceBound,
            [this](const std::string& why) { m_err.line(LineStream::Error, "lintrel: trace: " + why); });
        if (e->trace->open())
            s.setTrafficTap(e->trace.get());
    }
}

void HeadlessRunner::messageBox(const std::string& text, const std::string& title)
{
    m_err.line(LineStream::Warning, title + ": " + text);
}

namespace {

// Readiness, the status line and the watchdog for a service manager; all
// of it does nothing when the program was not started by one.
class ServiceReport {
public:
    explicit ServiceReport(HeadlessRunner& runner) : m_runner(runner)
    {
        const auto period = lt::service::watchdogPeriod();
        if (period.count() > 0) {
            m_watchdog.setInterval(int(std::min<long long>(period.count(), 1 << 30)));
            QObject::connect(&m_watchdog, &QTimer::timeout, [] { lt::service::notify("WATCHDOG=1"); });
            m_watchdog.start();
        }
    }
    void ready() { send("READY=1\n"); }
    void reloading()
    {
        const auto now = std::chrono::duration_cast<std::chrono::microseconds>(
            std::chrono::steady_clock::now().time_since_epoch());
        lt::service::notify("RELOADING=1\nMONOTONIC_USEC=" + std::to_string(now.count()));
    }
    void status()
    {
        if (m_runner.summary() != m_sent)
            send({});
    }
    void stopping() { lt::service::notify("STOPPING=1"); }

private:
    void send(const std::string& head)
    {
        m_sent = m_runner.summary();
        lt::service::notify(head + "STATUS=" + m_sent);
    }
    HeadlessRunner& m_runner;
    QTimer m_watchdog;
    std::string m_sent;
};

}  // namespace

int runHeadless(const std::string& commandLine, const HeadlessOptions& options)
{
    const std::string file = commandLineFile(commandLine);
    const bool journalOut = lt::service::isJournalStream(1);
    LineStream err(std::cerr, false);
    err.setJournal(lt::service::isJournalStream(2));
    // A service started on a file that is not there must fail loudly, not
    // run a blank session; the default file keeps its rule (made on save).
    if (!file.empty()) {
        if (const std::string why = unreadableReason(file); !why.empty()) {
            err.line(LineStream::Error, "lintrel: cannot read " + commandLine + ": " + why);
            return 2;
        }
    }
    const std::string path = file.empty() ? defaultConfigFile() : file;
    if (const std::string why = configFileProblem(path); !why.empty()) {
        err.line(LineStream::Error, "lintrel: cannot load " + path + ": " + why);
        return 2;
    }
    takeRunOnceStart();
    enterProgramFolder();
    HeadlessRunner runner(std::cout, std::cerr, options.timestamps);
    runner.setJournal(journalOut, lt::service::isJournalStream(2));
    runner.setTraceFolder(options.traceFolder, options.traceBound);
    QuitSignals quitSignals;
    quitSignals.catchHangup();
    int received = 0;
    QObject::connect(&quitSignals, &QuitSignals::quitRequested, [&](int number) {
        received = number;
        QCoreApplication::quit();
    });
    err.line(LineStream::Info, "lintrel: running " + path + " without windows; stop with Ctrl+C");
    err.line(LineStream::Info, "lintrel: virtual ports appear in " + kvd::portFolder());
    if (const std::string why = runner.start(file); !why.empty()) {
        err.line(LineStream::Error, "lintrel: cannot load " + path + ": " + why);
        return 2;
    }
    err.line(LineStream::Info, "lintrel: " + std::to_string(runner.sessionCount()) + " session(s) loaded");

    // `lintrel status` asks here; without it the bridges run all the same.
    ControlChannel control(runner, "headless", path);
    if (const std::string why = control.start(); !why.empty())
        err.line(LineStream::Warning, "lintrel: no status socket (" + why + "); lintrel status cannot ask this instance");

    ServiceReport service(runner);
    runner.statusChanged = [&service] { service.status(); };
    QObject::connect(&quitSignals, &QuitSignals::hangupRequested, [&] {
        service.reloading();
        runner.reload(file);
        service.ready();
    });
    service.ready();
    QCoreApplication::exec();
    service.stopping();
    runner.statusChanged = nullptr;
    err.line(LineStream::Info, "lintrel: stopped by signal " + std::to_string(received));
    return 0;
}

}  // namespace lintrel
