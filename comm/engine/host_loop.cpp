#include "host_loop.h"

#include "companion.h"
#include "qelcomm.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <cstdlib>
#include <mutex>

namespace qelcomm {
namespace {

bool displayConfigured()
{
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        if (const char* v = std::getenv(name); v && *v)
            return true;
    return false;
}

}  // namespace

void ensureHostLoop()
{
    static std::mutex lock;
    std::lock_guard guard(lock);
    if (QCoreApplication::instance())
        return;
    // With a display and the port settings dialog's library beside this
    // one, the application object is that library's QApplication, so the
    // dialog can show; otherwise a core application.
    using MakeApplication = int (*)();
    if (displayConfigured())
        if (auto make = reinterpret_cast<MakeApplication>(
                companionSymbol(QELCOMM6_PORT_DIALOG_LIBRARY, "qelcomm6MakeApplication"));
            make && make())
            return;
    // Lives until the process ends: the caller's comm objects and their
    // timers depend on it, and the caller never hears of it.
    static int argc = 1;
    static char name[] = "qelcomm6";
    static char* argv[] = {name, nullptr};
    new QCoreApplication(argc, argv);
}

}  // namespace qelcomm

QELCOMM_API std::int32_t PumpCommEvents(std::int32_t milliseconds)
{
    qelcomm::ensureHostLoop();
    // A thread Qt did not start, in a process whose application object
    // lives on another thread, has no event dispatcher: its timers never
    // run, and waiting here would only sleep.
    if (!QAbstractEventDispatcher::instance())
        return 0;
    if (milliseconds <= 0) {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        QCoreApplication::sendPostedEvents();
        return 1;
    }
    // A local loop sleeps until the next timer or event instead of spinning.
    QEventLoop loop;
    QTimer::singleShot(milliseconds, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
    return 1;
}
