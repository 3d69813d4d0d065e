// Kermit throughput over one socat pseudo-terminal pair: our sender to
// G-Kermit and C-Kermit to our receiver, then C-Kermit to G-Kermit on the
// same pair for comparison. Ours is basic Kermit (94-byte packets, one
// outstanding), so the ratios are taken against C-Kermit held to the same;
// C-Kermit with its own defaults (long packets, sliding windows) is printed
// beside them. Each run is repeated and the median time kept.
//
// Usage: kermit_bench [megabytes] [runs]   (1 MB, 3 runs by default)
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

QStringList ckermit(const std::string& line, const std::string& action)
{
    return {"kermit", "-Y", "-q", "-l", QString::fromStdString(line), "-b", "115200", "-C",
            QString::fromStdString("set carrier-watch off, set flow none, set file names literal, "
                                   "set file type binary, set transfer mode manual, set file patterns off, "
                                   + action + ", exit")};
}

const QStringList kGkermitReceive = {"gkermit", "-q", "-P", "-i", "-r"};

std::string fresh(testsupport::TempDir& dir, const std::string& name)
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
    const std::size_t megabytes = argc > 1 ? std::size_t(std::max(1, std::atoi(argv[1]))) : 1;
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
    const std::size_t size = megabytes << 20;

    testsupport::TempDir dir;
    const std::string data = randomData(size, 1);
    writeFile(fresh(dir, "from") + "/payload", data);

    SocatLine line(dir.path());
    const std::string nearPath = line.nearPath(), farPath = line.farPath();
    testsupport::PortsMap ports;
    const QcHandle o = line.ok() ? openOnLine(ports, nearPath, 61) : 0;
    if (!o)
        return 1;
    SetProtocol(o, xfer::Protocol_Kermit);
    std::printf("Kermit, %zu MB of random data over a pseudo-terminal pair, median of %d runs\n", megabytes, runs);

    Ratio send("Kermit", "send", "kermit -> gkermit (basic)");
    Ratio receive("Kermit", "receive", send.reference);
    Runs defaults;
    for (int run = 0; run < runs; ++run) {
        // Ours to G-Kermit, which waits already.
        {
            QProcess peer;
            const std::string into = fresh(dir, "into");
            startChild(peer, kGkermitReceive, into, farPath);
            runFor(500, [] { return false; });
            const auto t0 = Clock::now();
            Upload(o, dir.file("from/payload").c_str());
            runFor(600000, [&] { return GetTransferType(o) == 0; });
            const double s = seconds(t0);
            const bool ok = GetTransferStatus(o) == 0 && finished(peer, 20000) && readFile(into + "/payload") == data;
            report("ours -> gkermit", s, ok, size);
            send.ours.add(s, ok);
        }
        // C-Kermit to ours.
        {
            const std::string back = fresh(dir, "back");
            SetXferPath(o, back.c_str());
            Download(o, nullptr);
            QProcess peer;
            const auto t0 = Clock::now();
            startChild(peer, ckermit(farPath, "send payload"), dir.file("from"), {});
            runFor(600000, [&] { return GetTransferType(o) == 0; });
            const double s = seconds(t0);
            const bool ok = GetTransferStatus(o) == 0 && finished(peer, 20000) && readFile(back + "/payload") == data;
            report("kermit -> ours", s, ok, size);
            receive.ours.add(s, ok);
        }
        // C-Kermit to G-Kermit on the same pair: held to basic Kermit like
        // ours, and with its own defaults.
        SetPortOpen(o, 0);
        const char* const setups[2] = {"set send packet-length 94, set window 1, set block-check 1, "
                                       "set prefixing all, send payload",
                                       "send payload"};
        for (int i = 0; i < 2; ++i) {
            const std::string into = fresh(dir, "ref" + std::to_string(i));
            QProcess receiver, sender;
            startChild(receiver, kGkermitReceive, into, farPath);
            runFor(500, [] { return false; });
            const auto t0 = Clock::now();
            startChild(sender, ckermit(nearPath, setups[i]), dir.file("from"), {});
            const bool sent = finished(sender, 600000);
            const bool got = finished(receiver, 20000);
            const double s = seconds(t0);
            const bool ok = sent && got && readFile(into + "/payload") == data;
            report(i == 0 ? "kermit -> gkermit (basic)" : "kermit -> gkermit (defaults)", s, ok, size);
            (i == 0 ? send.theirs : defaults).add(s, ok);
        }
        receive.theirs = send.theirs;
        SetPortOpen(o, 1);
    }
    SetPortOpen(o, 0);
    DestroyCommObject(o);
    printRatios({send, receive});
    if (defaults.ok())
        std::printf("\nC-Kermit with its defaults (long packets, sliding windows) to G-Kermit: %.2f s\n",
                    defaults.seconds());
    return send.ours.ok() && receive.ours.ok() ? 0 : 1;
}
