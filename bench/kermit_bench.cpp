// Kermit throughput over one socat pseudo-terminal pair: our sender to
// G-Kermit and C-Kermit to our receiver, then C-Kermit to G-Kermit on the
// same pair for comparison. Prints one line per run and the ratios.
//
// Usage: kermit_bench [megabytes]
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

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const std::size_t megabytes = argc > 1 ? std::size_t(std::max(1, std::atoi(argv[1]))) : 1;
    const std::size_t size = megabytes << 20;

    testsupport::TempDir dir;
    for (const char* sub : {"from", "into", "back"})
        ::mkdir(dir.file(sub).c_str(), 0700);
    const std::string data = randomData(size, 1);
    writeFile(dir.file("from/payload"), data);

    SocatLine line(dir.path());
    const std::string nearPath = line.nearPath(), farPath = line.farPath();
    testsupport::PortsMap ports;
    const QcHandle o = line.ok() ? openOnLine(ports, nearPath, 61) : 0;
    if (!o)
        return 1;
    SetProtocol(o, xfer::Protocol_Kermit);
    std::printf("Kermit, %zu MB of random data over a pseudo-terminal pair\n", megabytes);

    // Ours to G-Kermit.
    double oursSend = 0;
    {
        QProcess peer;
        startChild(peer, {"gkermit", "-q", "-P", "-i", "-r"}, dir.file("into"), farPath);
        runFor(500, [] { return false; });
        const auto t0 = Clock::now();
        Upload(o, dir.file("from/payload").c_str());
        runFor(600000, [&] { return GetTransferType(o) == 0; });
        oursSend = seconds(t0);
        const bool ok = GetTransferStatus(o) == 0 && finished(peer, 20000) && readFile(dir.file("into/payload")) == data;
        report("ours -> gkermit", oursSend, ok, size);
    }

    // C-Kermit to ours.
    double oursReceive = 0;
    {
        SetXferPath(o, dir.file("back").c_str());
        Download(o, nullptr);
        QProcess peer;
        const auto t0 = Clock::now();
        startChild(peer, ckermit(farPath, "send payload"), dir.file("from"), {});
        runFor(600000, [&] { return GetTransferType(o) == 0; });
        oursReceive = seconds(t0);
        const bool ok = GetTransferStatus(o) == 0 && finished(peer, 20000) && readFile(dir.file("back/payload")) == data;
        report("kermit -> ours", oursReceive, ok, size);
    }
    SetPortOpen(o, 0);
    DestroyCommObject(o);

    // C-Kermit to G-Kermit on the same pair: with their own defaults (long
    // packets, sliding windows), and held to basic Kermit like ours.
    double reference[2] = {0, 0};
    const char* const setups[2] = {"send payload",
                                   "set send packet-length 94, set window 1, set block-check 1, "
                                   "set prefixing all, send payload"};
    const char* const labels[2] = {"kermit -> gkermit (defaults)", "kermit -> gkermit (basic)"};
    for (int i = 0; i < 2; ++i) {
        const std::string into = dir.file("ref" + std::to_string(i));
        ::mkdir(into.c_str(), 0700);
        QProcess receiver, sender;
        startChild(receiver, {"gkermit", "-q", "-P", "-i", "-r"}, into, farPath);
        runFor(500, [] { return false; });
        const auto t0 = Clock::now();
        startChild(sender, ckermit(nearPath, setups[i]), dir.file("from"), {});
        const bool sent = finished(sender, 600000);
        const bool got = finished(receiver, 20000);
        reference[i] = seconds(t0);
        report(labels[i], reference[i], sent && got && readFile(into + "/payload") == data, size);
    }
    for (int i = 0; i < 2; ++i) {
        std::printf("ratio ours -> gkermit / %s: %.2f\n", labels[i], oursSend / reference[i]);
        std::printf("ratio kermit -> ours  / %s: %.2f\n", labels[i], oursReceive / reference[i]);
    }

    return 0;
}
