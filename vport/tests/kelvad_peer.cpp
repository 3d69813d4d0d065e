// A second process for the control tests: makes and deletes ports in a loop
// and logs every hold of the control device, so the test can check that no
// two processes ever hold it together.
//   kelvad_peer <log file> <go file> <name prefix>
// Prints "ready" once its control exists, starts when <go file> appears,
// prints "done <ports created>" at the end.
#include "kelvad_ctrl.h"

#include <QCoreApplication>

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <string>

namespace {

void logLine(int fd, char what)
{
    const std::string line = std::string(1, what) + std::to_string(getpid()) + "\n";
    (void)!::write(fd, line.data(), line.size());
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 4)
        return 2;
    const int log = ::open(argv[1], O_WRONLY | O_APPEND | O_CREAT, 0600);
    if (log < 0)
        return 2;
    CKelvadCtrl ctrl;
    std::printf("ready\n");
    std::fflush(stdout);
    for (int i = 0; i < 1000 && access(argv[2], F_OK) != 0; ++i)
        win::sleepMs(10);

    int created = 0;
    for (int i = 0; i < 25; ++i) {
        const kvd::Handle device = ctrl.AcquireControlDevice();
        if (device != kvd::kInvalidHandle) {
            logLine(log, '+');
            win::sleepMs(3);
            logLine(log, '-');
            ctrl.ReleaseControlDevice(device);
        }
        if (ctrl.CreatePort(std::string(argv[3]) + std::to_string(i))) {
            ++created;
            ctrl.Delete();
        }
    }
    std::printf("done %d\n", created);
    return 0;
}
