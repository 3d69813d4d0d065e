// The error log and the on-error program.  Nothing here reports a failure:
// a line that cannot be written is lost, a program that cannot start is
// not started.
#include "session.h"

#include "app_paths.h"
#include "global_options.h"

#include "winsock/socket_control.h"

#include <QProcess>
#include <QStringList>

#include <cstdio>
#include <ctime>

namespace lintrel {

namespace {

std::string dateTimeFields()
{
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    char buf[80];
    std::snprintf(buf, sizeof buf, "%02d-%02d-%04d, %02d:%02d:%02d", tm.tm_mon + 1, tm.tm_mday,
                  tm.tm_year + 1900, tm.tm_hour, tm.tm_min, tm.tm_sec);
    return buf;
}

}  // namespace

void Session::LogErrors(const std::string& desc)
{
    ++m_counters.errors;
    if (GlobalOptions.LogErrors) {
        std::string line = "Lintrel Error: " + desc + ", " + dateTimeFields() +
                           ", Lintrel IP Address: " + HostAddress + ", ";
        const auto& s0 = Winsock1(0);
        if (ServerMode != 0)
            line += "Server Mode, Local Port: " + std::to_string(s0.localPort);
        else
            line += "Client Mode, Remote Host: " + s0.remoteHost +
                    ", RemotePort: " + std::to_string(s0.remotePort);
        line += "\r\n";
        if (std::FILE* f = std::fopen(programFile("errorlog.txt").c_str(), "ab")) {
            std::fwrite(line.data(), 1, line.size(), f);
            std::fclose(f);
        }
    }
    if (!GlobalOptions.OnErrorRunApp.empty()) {
        // The command line is split as a shell would, without running a
        // shell, so its text cannot inject further commands.
        QStringList args = QProcess::splitCommand(QString::fromStdString(GlobalOptions.OnErrorRunApp));
        if (!args.isEmpty()) {
            const QString program = args.takeFirst();
            QProcess::startDetached(program, args);
        }
    }
}

}  // namespace lintrel
