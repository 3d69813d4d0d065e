// XModem 1K and YModem throughput over one pseudo-terminal line: our sender
// to lrzsz's receiver and lrzsz's sender to our receiver, then lrzsz's
// sender to its own receiver on the same line for comparison. The
// receivers answer through the line's pipe (see RelayLine), so their last
// ACK is not flushed away on exit.
//
// Usage: xymodem_bench [megabytes]   (default 2)
#include "line_fixture.h"
#include "transfer_bench.h"
#include "transfer_engine.h"
#include "xymodem.h"

#include <QCoreApplication>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <sys/stat.h>

using bench::Clock;
using bench::openOnLine;
using bench::report;
using bench::seconds;
using namespace xfertest;

namespace {


// XModem keeps the fill of its last block.
bool sameData(const std::string& got, const std::string& sent, bool padded)
{
    if (!padded)
        return got == sent;
    return got.size() >= sent.size() && got.compare(0, sent.size(), sent) == 0
           && got.find_first_not_of('\x1a', sent.size()) == std::string::npos;
}

struct Family {
    const char* name;
    int protocol;
    QStringList send, receive;  // lrzsz's programs and options, without the file
    bool padded;
};

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const std::size_t megabytes = argc > 1 ? std::size_t(std::max(1, std::atoi(argv[1]))) : 2;
    const std::size_t size = megabytes << 20;
    testsupport::TempDir dir;
    const std::string data = randomData(size, 1);
    writeFile(dir.file("payload"), data);

    RelayLine line(dir.path());
    if (!line.ok()) {
        std::fprintf(stderr, "cannot make the line\n");
        return 1;
    }
    testsupport::PortsMap ports;
    const QcHandle o = openOnLine(ports, line.nearPath(), 62);
    if (!o)
        return 1;
    std::printf("%zu MB of random data over a pseudo-terminal line\n", megabytes);

    const Family families[] = {
        {"XModem 1K", xfer::Protocol_XModem1K, {"sx", "-q", "-k"}, {"rx", "-q", "-c"}, true},
        {"YModem", xfer::Protocol_YModem, {"sb", "-q", "-k"}, {"rb", "-q"}, false},
    };
    int failures = 0;
    for (const Family& f : families) {
        const bool batch = f.protocol == xfer::Protocol_YModem;
        SetProtocol(o, f.protocol);
        auto lrzsz = [](const QStringList& command, const QStringList& more, const std::string& tty,
                        const std::string& cwd, const std::string& answers) {
            return std::make_unique<Peer>(command.front(), command.mid(1) + more, tty, cwd, answers);
        };
        auto line_of = [&](const char* what, double s, bool ok) {
            report((std::string(f.name) + ": " + what).c_str(), s, ok, size);
            failures += ok ? 0 : 1;
            return s;
        };
        const std::string tag = batch ? "y" : "x";
        for (const char* sub : {"a", "b", "c"})
            ::mkdir(dir.file(tag + sub).c_str(), 0700);

        // Ours to lrzsz.
        const std::string outA = batch ? dir.file(tag + "a/payload") : dir.file(tag + "a/got");
        Upload(o, dir.file("payload").c_str());
        testsupport::pumpFor(300);
        auto t0 = Clock::now();
        auto receiver = lrzsz(f.receive, batch ? QStringList{} : QStringList{"got"}, line.farPath(), dir.file(tag + "a"),
                              line.answersPath());
        pumpUntil([&] { return GetTransferType(o) == 0; }, 600000);
        const double oursSend = seconds(t0);
        const bool sendOk = GetTransferStatus(o) == 0 && receiver->finish(20000) && sameData(readFile(outA), data, f.padded);
        line_of("ours -> lrzsz", oursSend, sendOk);
        receiver.reset();

        // lrzsz to ours.
        const std::string outB = dir.file(tag + "b/payload");
        SetXferPath(o, dir.file(tag + "b").c_str());
        Download(o, batch ? nullptr : outB.c_str());
        t0 = Clock::now();
        auto sender = lrzsz(f.send, {"payload"}, line.farPath(), dir.path(), line.answersPath());
        pumpUntil([&] { return GetTransferType(o) == 0; }, 600000);
        const double oursReceive = seconds(t0);
        const bool receiveOk = GetTransferStatus(o) == 0 && sender->finish(20000) && sameData(readFile(outB), data, f.padded);
        line_of("lrzsz -> ours", oursReceive, receiveOk);
        sender.reset();

        // lrzsz to lrzsz on the same line: the sender takes our side's tty.
        SetPortOpen(o, 0);
        const std::string outC = batch ? dir.file(tag + "c/payload") : dir.file(tag + "c/got");
        receiver = lrzsz(f.receive, batch ? QStringList{} : QStringList{"got"}, line.farPath(), dir.file(tag + "c"),
                         line.answersPath());
        testsupport::pumpFor(300);
        t0 = Clock::now();
        sender = lrzsz(f.send, {"payload"}, line.nearPath(), dir.path(), {});
        const bool refOk = sender->finish(600000) && receiver->finish(20000) && sameData(readFile(outC), data, f.padded);
        const double reference = line_of("lrzsz -> lrzsz", seconds(t0), refOk);
        SetPortOpen(o, 1);
        std::printf("%s ratio ours -> lrzsz / lrzsz -> lrzsz: %.2f\n", f.name, oursSend / reference);
        std::printf("%s ratio lrzsz -> ours / lrzsz -> lrzsz: %.2f\n", f.name, oursReceive / reference);
    }
    SetPortOpen(o, 0);
    DestroyCommObject(o);
    return failures == 0 ? 0 : 1;
}
