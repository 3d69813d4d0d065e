// XModem 1K and YModem throughput over one pseudo-terminal line: our sender
// to lrzsz's receiver and lrzsz's sender to our receiver, then lrzsz's
// sender to its own receiver on the same line for comparison. Receivers
// start first, as a user starts them, and answer through the line's pipe
// (see RelayLine), so their last ACK is not flushed away on exit. Each run
// is repeated and the median time kept; the ratios end the output.
//
// Usage: xymodem_bench [megabytes] [runs]   (default 2 MB, 3 runs)
#include "line_fixture.h"
#include "transfer_bench.h"
#include "transfer_engine.h"
#include "xymodem.h"

#include <QCoreApplication>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <sys/stat.h>

using namespace bench;
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

std::unique_ptr<Peer> lrzsz(const QStringList& command, const QStringList& more, const std::string& tty,
                            const std::string& cwd, const std::string& answers)
{
    return std::make_unique<Peer>(command.front(), command.mid(1) + more, tty, cwd, answers);
}

bool idle(QcHandle o) { return GetTransferType(o) == 0; }

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const std::size_t megabytes = argc > 1 ? std::size_t(std::max(1, std::atoi(argv[1]))) : 2;
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
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
    std::printf("%zu MB of random data over a pseudo-terminal line, median of %d runs\n", megabytes, runs);

    const Family families[] = {
        {"XModem 1K", xfer::Protocol_XModem1K, {"sx", "-q", "-k"}, {"rx", "-q", "-c"}, true},
        {"YModem", xfer::Protocol_YModem, {"sb", "-q", "-k"}, {"rb", "-q"}, false},
    };
    std::vector<Ratio> ratios;
    int failures = 0;
    for (const Family& f : families) {
        const bool batch = f.protocol == xfer::Protocol_YModem;
        const std::string tag = batch ? "y" : "x";
        const QStringList receiveArgs = batch ? QStringList{} : QStringList{"got"};
        auto received = [&](const std::string& folder) {
            return readFile(dir.file(tag + folder + (batch ? "/payload" : "/got")));
        };
        auto fresh = [&](const std::string& folder) {
            const std::string path = dir.file(tag + folder);
            ::mkdir(path.c_str(), 0700);
            std::remove((path + "/payload").c_str());
            std::remove((path + "/got").c_str());
            return path;
        };
        Ratio send(f.name, "send", f.send.front().toStdString() + " -> " + f.receive.front().toStdString());
        Ratio receive(f.name, "receive", send.reference);
        Runs reference;
        SetProtocol(o, f.protocol);
        for (int run = 0; run < runs; ++run) {
            // Ours to lrzsz: the receiver waits already, as a user starts it.
            const std::string into = fresh("a");
            auto receiver = lrzsz(f.receive, receiveArgs, line.farPath(), into, line.answersPath());
            runFor(300, [] { return false; });
            auto t0 = Clock::now();
            Upload(o, dir.file("payload").c_str());
            runFor(600000, [&] { return idle(o); });
            double s = seconds(t0);
            bool ok = GetTransferStatus(o) == 0 && receiver->finish(20000) && sameData(received("a"), data, f.padded);
            report((std::string(f.name) + ": ours -> lrzsz").c_str(), s, ok, size);
            send.ours.add(s, ok);
            receiver.reset();

            // lrzsz to ours.
            SetXferPath(o, fresh("b").c_str());
            Download(o, batch ? nullptr : dir.file(tag + "b/got").c_str());
            t0 = Clock::now();
            auto sender = lrzsz(f.send, {"payload"}, line.farPath(), dir.path(), line.answersPath());
            runFor(600000, [&] { return idle(o); });
            s = seconds(t0);
            ok = GetTransferStatus(o) == 0 && sender->finish(20000) && sameData(received("b"), data, f.padded);
            report((std::string(f.name) + ": lrzsz -> ours").c_str(), s, ok, size);
            receive.ours.add(s, ok);
            sender.reset();

            // lrzsz to lrzsz on the same line: the sender takes our side's tty.
            SetPortOpen(o, 0);
            receiver = lrzsz(f.receive, receiveArgs, line.farPath(), fresh("c"), line.answersPath());
            runFor(300, [] { return false; });
            t0 = Clock::now();
            sender = lrzsz(f.send, {"payload"}, line.nearPath(), dir.path(), {});
            const bool sent = sender->finish(600000);
            s = seconds(t0);
            ok = sent && receiver->finish(20000) && sameData(received("c"), data, f.padded);
            report((std::string(f.name) + ": lrzsz -> lrzsz").c_str(), s, ok, size);
            reference.add(s, ok);
            SetPortOpen(o, 1);
        }
        send.theirs = receive.theirs = reference;
        failures += send.ours.ok() && receive.ours.ok() && reference.ok() ? 0 : 1;
        ratios.push_back(send);
        ratios.push_back(receive);
    }
    SetPortOpen(o, 0);
    DestroyCommObject(o);
    printRatios(ratios);
    return failures == 0 ? 0 : 1;
}
