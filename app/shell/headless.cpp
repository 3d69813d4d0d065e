#include "headless.h"

#include "config_file.h"
#include "quit_signals.h"
#include "registration.h"
#include "startup.h"

#include "kvd/kvd.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>

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

}  // namespace

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

HeadlessRunner::~HeadlessRunner()
{
    closeAllSessions();
}

void HeadlessRunner::start(const std::string& file)
{
    AutoActivateFlags.assign(2, 0);
    getprofilesettings(*this, file);
    resetVirtualPortsIfAlone(*this);
    activateFlaggedSessions();
}

Session& HeadlessRunner::NewSession()
{
    auto e = std::make_unique<Entry>();
    e->session = std::make_unique<Session>(this);
    Session& s = *e->session;
    s.Caption = kNewCaption;
    e->shown = {s.StatusBar1[0].text, s.StatusBar1[1].text};
    const std::size_t number = m_sessions.size() + 1;
    Entry* raw = e.get();
    s.changed = [this, raw, number] { report(*raw, number); };
    m_sessions.push_back(std::move(e));
    return s;
}

void HeadlessRunner::closeAllSessions()
{
    while (!m_sessions.empty())
        m_sessions.pop_back();
}

void HeadlessRunner::report(Entry& e, std::size_t number)
{
    for (std::size_t k = 0; k < 2; ++k) {
        const std::string& now = e.session->StatusBar1[k].text;
        if (now == e.shown[k])
            continue;
        e.shown[k] = now;
        if (m_timestamps)
            m_out << timestamp() << ' ';
        m_out << "Session" << number << ": " << now << std::endl;
    }
}

void HeadlessRunner::messageBox(const std::string& text, const std::string& title)
{
    m_err << title << ": " << text << std::endl;
}

int runHeadless(const std::string& commandLine, const HeadlessOptions& options)
{
    const std::string file = commandLineFile(commandLine);
    // A service started on a file that is not there must fail loudly, not
    // run a blank session; the default file keeps its rule (made on save).
    if (!file.empty()) {
        if (const std::string why = unreadableReason(file); !why.empty()) {
            std::cerr << "lintrel: cannot read " << commandLine << ": " << why << std::endl;
            return 2;
        }
    }
    takeRunOnceStart();
    enterProgramFolder();
    HeadlessRunner runner(std::cout, std::cerr, options.timestamps);
    QuitSignals quitSignals;
    int received = 0;
    QObject::connect(&quitSignals, &QuitSignals::quitRequested, [&](int number) {
        received = number;
        QCoreApplication::quit();
    });
    const std::string path = file.empty() ? defaultConfigFile() : file;
    std::cerr << "lintrel: running " << path << " without windows; stop with Ctrl+C\n"
              << "lintrel: virtual ports appear in " << kvd::portFolder() << std::endl;
    runner.start(file);
    std::cerr << "lintrel: " << runner.sessionCount() << " session(s) loaded" << std::endl;
    QCoreApplication::exec();
    std::cerr << "lintrel: stopped by signal " << received << std::endl;
    return 0;
}

}  // namespace lintrel
