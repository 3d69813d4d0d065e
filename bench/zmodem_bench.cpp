// ZModem throughput over one socat pseudo-terminal pair: our sender to rz
// and sz to our receiver, then sz to rz on the same pair for comparison.
// Prints one line per run and the ratios.
//
// Usage: zmodem_bench [megabytes]   (10 by default)
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
// "OO" and leave the receiver waiting.
QStringList szOverSocket(const std::string& line)
{
    return {"socat", "FILE:" + QString::fromStdString(line) + ",raw,echo=0", "EXEC:sz -q payload"};
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const std::size_t megabytes = argc > 1 ? std::size_t(std::max(1, std::atoi(argv[1]))) : 10;
    const std::size_t size = megabytes << 20;

    testsupport::TempDir dir;
    for (const char* sub : {"from", "into", "back", "ref1", "ref2"})
        ::mkdir(dir.file(sub).c_str(), 0700);
    const std::string data = randomData(size, 1);
    writeFile(dir.file("from/payload"), data);

    SocatLine line(dir.path());
    const std::string nearPath = line.nearPath(), farPath = line.farPath();
    testsupport::PortsMap ports;
    const QcHandle o = line.ok() ? openOnLine(ports, nearPath, 62) : 0;
    if (!o)
        return 1;
    SetProtocol(o, xfer::Protocol_ZModem);
    std::printf("ZModem, %zu MB of random data over a pseudo-terminal pair\n", megabytes);

    // Ours to rz.
    double oursSend = 0;
    {
        QProcess peer;
        startChild(peer, {"rz", "-q"}, dir.file("into"), farPath);
        const auto t0 = Clock::now();
        Upload(o, dir.file("from/payload").c_str());
        runFor(600000, [&] { return GetTransferType(o) == 0; });
        oursSend = seconds(t0);
        const bool ok = GetTransferStatus(o) == 0 && finished(peer, 20000) && readFile(dir.file("into/payload")) == data;
        report("ours -> rz", oursSend, ok, size);
    }

    // sz to ours.
    double oursReceive = 0;
    {
        SetXferPath(o, dir.file("back").c_str());
        Download(o, nullptr);
        QProcess peer;
        const auto t0 = Clock::now();
        startChild(peer, szOverSocket(farPath), dir.file("from"), {});
        runFor(600000, [&] { return GetTransferType(o) == 0; });
        oursReceive = seconds(t0);
        const bool ok = GetTransferStatus(o) == 0 && finished(peer, 20000) && readFile(dir.file("back/payload")) == data;
        report("sz -> ours", oursReceive, ok, size);
    }
    SetPortOpen(o, 0);
    DestroyCommObject(o);

    // sz to rz on the same pair: sz on the line itself, and sz joined by
    // socat as in the run to ours.
    double reference[2] = {0, 0};
    const char* const labels[2] = {"sz -> rz", "sz (via socat) -> rz"};
    for (int i = 0; i < 2; ++i) {
        const std::string into = dir.file(i == 0 ? "ref1" : "ref2");
        QProcess receiver, sender;
        startChild(receiver, {"rz", "-q"}, into, farPath);
        const auto t0 = Clock::now();
        if (i == 0)
            startChild(sender, {"sz", "-q", "payload"}, dir.file("from"), nearPath);
        else
            startChild(sender, szOverSocket(nearPath), dir.file("from"), {});
        // Timed to the sender's end: rz may then still wait for a closing
        // "OO" that sz's exit flush dropped.
        const bool sent = finished(sender, 600000);
        reference[i] = seconds(t0);
        const bool got = finished(receiver, 60000);
        report(labels[i], reference[i], sent && got && readFile(into + "/payload") == data, size);
    }
    std::printf("ratio ours -> rz / sz -> rz: %.2f\n", oursSend / reference[0]);
    std::printf("ratio sz -> ours / sz (via socat) -> rz: %.2f\n", oursReceive / reference[1]);

    return 0;
}
