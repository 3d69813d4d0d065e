#include "app_paths.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include <cstdlib>
#include <unistd.h>

namespace lintrel {

std::string programFolder()
{
    if (const char* home = std::getenv("LINTREL_HOME"); home && *home)
        return home;
    const QString exe = QCoreApplication::applicationDirPath();
    if (!exe.isEmpty() && ::access(exe.toLocal8Bit().constData(), W_OK) == 0)
        return exe.toStdString();
    const QString config = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    const QString dir = config + "/lintrel";
    QDir().mkpath(dir);
    return dir.toStdString();
}

std::string programFile(const std::string& name)
{
    std::string folder = programFolder();
    if (folder.empty() || folder.back() != '/')
        folder += '/';
    return folder + name;
}

}  // namespace lintrel
