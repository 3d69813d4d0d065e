#include "startup.h"

#include "app_paths.h"

#include "kelvad_ctrl.h"

#include <QDir>
#include <QFileInfo>
#include <QLockFile>

#include <memory>
#include <unistd.h>

namespace lintrel {

bool anotherInstanceRunning()
{
    // The lock lives as long as the process; a lock left by a process that
    // is gone is taken over.
    static std::unique_ptr<QLockFile> lock;
    static bool other = false;
    if (!lock) {
        QString dir = qEnvironmentVariable("XDG_RUNTIME_DIR");
        if (dir.isEmpty() || !QFileInfo(dir).isDir())
            dir = QDir::tempPath();
        lock = std::make_unique<QLockFile>(
            QString("%1/lintrel-instance-%2.lock").arg(dir).arg(::getuid()));
        lock->setStaleLockTime(0);
        other = !lock->tryLock(0) && lock->error() == QLockFile::LockFailedError;
    }
    return other;
}

std::string commandLineFile(const std::string& name)
{
    if (name.empty())
        return name;
    return QFileInfo(QString::fromStdString(name)).absoluteFilePath().toStdString();
}

void enterProgramFolder()
{
    QDir::setCurrent(QString::fromStdString(programFolder()));
}

void resetVirtualPortsIfAlone(SessionWorkspace& w)
{
    if (w.sessionCount() > 0 && !anotherInstanceRunning())
        w.session(0).Kelvad1().ResetBus();
}

}  // namespace lintrel
