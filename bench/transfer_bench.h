// What the transfer benchmarks share: waiting with the event loop running,
// starting and ending peer programs, the comm object on the line, timing
// and printing a run.
#pragma once

#include "pty_pair.h"
#include "qelcomm.h"

#include <QEventLoop>
#include <QProcess>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <functional>
#include <string>
#include <utility>
#include <vector>
#include <sys/prctl.h>

namespace bench {

using Clock = std::chrono::steady_clock;

inline void runFor(int ms, const std::function<bool()>& done)
{
    QEventLoop loop;
    QTimer check, limit;
    QObject::connect(&check, &QTimer::timeout, [&] {
        if (done())
            loop.quit();
    });
    QObject::connect(&limit, &QTimer::timeout, &loop, &QEventLoop::quit);
    check.start(5);
    limit.setSingleShot(true);
    limit.start(ms);
    if (!done())
        loop.exec();
}

inline void startChild(QProcess& p, const QStringList& command, const std::string& cwd, const std::string& stdioTty)
{
    p.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
    p.setWorkingDirectory(QString::fromStdString(cwd));
    if (stdioTty.empty()) {
        p.setStandardInputFile(QProcess::nullDevice());
        p.setStandardOutputFile(QProcess::nullDevice());
    } else {
        p.setStandardInputFile(QString::fromStdString(stdioTty));
        p.setStandardOutputFile(QString::fromStdString(stdioTty));
    }
    p.setStandardErrorFile(QProcess::nullDevice());
    p.start(command.front(), command.mid(1));
    p.waitForStarted(5000);
}

inline bool finished(QProcess& p, int ms)
{
    runFor(ms, [&] { return p.state() == QProcess::NotRunning; });
    if (p.state() != QProcess::NotRunning) {
        p.kill();
        p.waitForFinished(2000);
        return false;
    }
    return p.exitCode() == 0;
}

// A comm object on path (mapped to COM<com>) at 115200 baud, open; 0 when
// the port does not open.
inline QcHandle openOnLine(testsupport::PortsMap& ports, const std::string& path, int com)
{
    ports.map(com, path);
    QcHandle o = CreateCommObject(0);
    SetCommPort(o, com);
    SetSettings(o, "115200,n,8,1");
    if (SetPortOpen(o, 1) != 1) {
        std::fprintf(stderr, "cannot open the line\n");
        DestroyCommObject(o);
        return 0;
    }
    return o;
}

inline double seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

inline void report(const char* what, double s, bool ok, std::size_t bytes)
{
    std::printf("%-34s %8.2f s  %8.1f KB/s  %s\n", what, s, bytes / 1024.0 / s, ok ? "ok" : "FAILED");
}

// Several runs of one measurement, summed up by their median: the machine
// is shared, and single runs stray both ways (another program's load slows
// one, a lucky placement of the two ends on one processor speeds another).
class Runs {
public:
    void add(double s, bool ok)
    {
        if (ok)
            m_times.push_back(s);
        else
            m_failed = true;
    }
    double seconds() const
    {
        std::vector<double> t = m_times;
        std::sort(t.begin(), t.end());
        return t.empty() ? 0 : t.size() % 2 ? t[t.size() / 2] : (t[t.size() / 2 - 1] + t[t.size() / 2]) / 2;
    }
    bool ok() const { return !m_failed && !m_times.empty(); }

private:
    std::vector<double> m_times;
    bool m_failed = false;
};

// One line of the ratio table: our side against the reference's own time
// on the same line.
struct Ratio {
    Ratio(std::string p, std::string d, std::string r) : protocol(std::move(p)), direction(std::move(d)), reference(std::move(r)) {}
    std::string protocol, direction, reference;
    Runs ours, theirs;
};

// The table README carries. Our time over the reference's; the goal is at
// most limit.
inline void printRatios(const std::vector<Ratio>& rows, double limit = 1.5)
{
    std::printf("\n| Protocol | Direction | Ours (s) | Reference | Reference (s) | Ratio |\n");
    std::printf("|---|---|---:|---|---:|---:|\n");
    for (const Ratio& r : rows) {
        if (!r.ours.ok() || !r.theirs.ok()) {
            std::printf("| %s | %s | %s | %s | %s | - |\n", r.protocol.c_str(), r.direction.c_str(),
                        r.ours.ok() ? "" : "failed", r.reference.c_str(), r.theirs.ok() ? "" : "failed");
            continue;
        }
        const double ratio = r.ours.seconds() / r.theirs.seconds();
        std::printf("| %s | %s | %.2f | %s | %.2f | %.2f%s |\n", r.protocol.c_str(), r.direction.c_str(),
                    r.ours.seconds(), r.reference.c_str(), r.theirs.seconds(), ratio, ratio > limit ? " (over)" : "");
    }
}

}  // namespace bench
