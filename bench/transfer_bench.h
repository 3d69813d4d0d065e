// What the transfer benchmarks share: waiting with the event loop running,
// starting and ending peer programs, timing and printing a run.
#pragma once

#include <QEventLoop>
#include <QProcess>
#include <QTimer>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
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

inline std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

inline double seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

inline void report(const char* what, double s, bool ok, std::size_t bytes)
{
    std::printf("%-34s %8.2f s  %8.1f KB/s  %s\n", what, s, bytes / 1024.0 / s, ok ? "ok" : "FAILED");
}

}  // namespace bench
