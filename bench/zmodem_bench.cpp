// ZModem throughput over one socat pseudo-terminal pair: our sender to rz
// and sz to our receiver, then sz to rz on the same pair for comparison.
// Each run is repeated and the median time kept; the ratios end the output.
//
// Usage: zmodem_bench [megabytes] [runs]   (10 MB, 3 runs by default)
#include "line_fixture.h"
#include "pty_pair.h"
#include "transfer_bench.h"
#include "qelcomm.h"
#include "temp_dir.h"
#include "transfer_engine.h"
#include "xymodem.h"

#include <QCoreApplication>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/stat.h>

using namespace bench;
using namespace xfertest;

namespace {

// sz over a socket pair that socat joins to the line: sz flushes its
// terminal as it exits, which on a pseudo-terminal can drop its closing
// "OO"; joined this way the receiver sees every byte.
QStringList szOverSocket(const std::string& line)
{
    return {"socat", "FILE:" + QString::fromStdString(line) + ",raw,echo=0", "EXEC:sz -q payload"};
}

std::string fresh(testsupport::TempDir& dir, const char* name)
{
    const std::string path = dir.file(name);
    ::mkdir(path.c_str(), 0700);
    std::remove((path + "/payload").c_str());
    return path;
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const std::size_t megabytes = argc > 1 ? std::size_t(std::max(1, std::atoi(argv[1]))) : 10;
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
    const std::size_t size = megabytes << 20;

    testsupport::TempDir dir;
    const std::string data = randomData(size, 1);
    writeFile(fresh(dir, "from") + "/payload", data);

    SocatLine line(dir.path());
    const std::string nearPath = line.nearPath(), farPath = line.farPath();
    testsupport::PortsMap ports;
    const QcHandle o = line.ok() ? openOnLine(ports, nearPath, 62) : 0;
    if (!o)
        return 1;
    SetProtocol(o, xfer::Protocol_ZModem);
    std::printf("ZModem, %zu MB of random data over a pseudo-terminal pair, median of %d runs\n", megabytes, runs);

    Ratio send("ZModem", "send", "sz -> rz");
    Ratio receive("ZModem", "receive", "sz (via socat) -> rz");
    for (int run = 0; run < runs; ++run) {
        // Ours to rz, which waits already.
        {
            QProcess peer;
            const std::string into = fresh(dir, "into");
            startChild(peer, {"rz", "-q"}, into, farPath);
            const auto t0 = Clock::now();
            Upload(o, dir.file("from/payload").c_str());
            runFor(600000, [&] { return GetTransferType(o) == 0; });
            const double s = seconds(t0);
            const bool ok = GetTransferStatus(o) == 0 && finished(peer, 20000) && readFile(into + "/payload") == data;
            report("ours -> rz", s, ok, size);
            send.ours.add(s, ok);
        }
        // sz to ours.
        {
            const std::string back = fresh(dir, "back");
            SetXferPath(o, back.c_str());
            Download(o, nullptr);
            QProcess peer;
            const auto t0 = Clock::now();
            startChild(peer, szOverSocket(farPath), dir.file("from"), {});
            runFor(600000, [&] { return GetTransferType(o) == 0; });
            const double s = seconds(t0);
            const bool ok = GetTransferStatus(o) == 0 && finished(peer, 20000) && readFile(back + "/payload") == data;
            report("sz -> ours", s, ok, size);
            receive.ours.add(s, ok);
        }
        // sz to rz on the same pair: sz on the line itself, and sz joined by
        // socat as in the run to ours.
        SetPortOpen(o, 0);
        for (int i = 0; i < 2; ++i) {
            const std::string into = fresh(dir, i == 0 ? "ref1" : "ref2");
            QProcess receiver, sender;
            startChild(receiver, {"rz", "-q"}, into, farPath);
            const auto t0 = Clock::now();
            if (i == 0)
                startChild(sender, {"sz", "-q", "payload"}, dir.file("from"), nearPath);
            else
                startChild(sender, szOverSocket(nearPath), dir.file("from"), {});
            // Timed to the sender's end: rz may then still wait for a
            // closing "OO" that sz's exit flush dropped.
            const bool sent = finished(sender, 600000);
            const double s = seconds(t0);
            const bool ok = sent && finished(receiver, 60000) && readFile(into + "/payload") == data;
            report(i == 0 ? "sz -> rz" : "sz (via socat) -> rz", s, ok, size);
            (i == 0 ? send : receive).theirs.add(s, ok);
        }
        SetPortOpen(o, 1);
    }
    SetPortOpen(o, 0);
    DestroyCommObject(o);
    printRatios({send, receive});
    return send.ours.ok() && receive.ours.ok() ? 0 : 1;
}
