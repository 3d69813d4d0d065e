// qelterm send and qelterm receive as a user runs them: against lrzsz on a
// pseudo-terminal line, against each other, against a receiver that
// cancels; exit codes, progress output and usage errors.
#include "line_fixture.h"
#include "options.h"
#include "pty_pair.h"
#include "rfc2217_peers.h"
#include "transfer_engine.h"
#include "xymodem.h"

#include <QProcess>

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>

#include <atomic>
#include <thread>

using namespace xfertest;

namespace {

struct Outcome {
    int code = -1;
    std::string err;
};

// qelterm with arguments, bounded in time; standard error collected, or
// sent to errTty.
class Qelterm {
public:
    explicit Qelterm(const QStringList& args, const std::string& errTty = {})
    {
        if (!errTty.empty())
            m_p.setStandardErrorFile(QString::fromStdString(errTty));
        m_p.start(QELTERM_PATH, args);
        m_p.waitForStarted(5000);
    }
    ~Qelterm()
    {
        if (m_p.state() != QProcess::NotRunning) {
            m_p.kill();
            m_p.waitForFinished(2000);
        }
    }
    Outcome finish(int ms)
    {
        if (!pumpUntil([&] { return m_p.state() == QProcess::NotRunning || m_p.waitForFinished(5); }, ms)) {
            m_p.kill();
            m_p.waitForFinished(2000);
            return {};
        }
        return {m_p.exitStatus() == QProcess::NormalExit ? m_p.exitCode() : -1,
                m_p.readAllStandardError().toStdString()};
    }

    void interrupt() { ::kill(pid_t(m_p.processId()), SIGINT); }

private:
    QProcess m_p;
};

Outcome qelterm(const QStringList& args, int ms = 30000) { return Qelterm(args).finish(ms); }

QStringList onPort(const char* command, const std::string& port, const char* protocol)
{
    return {command, "--port", QString::fromStdString(port), "--settings", "115200,n,8,1", "--protocol", protocol};
}

class TransferCommands : public TransferTest {};

TEST_F(TransferCommands, SendYmodemToRbAndReceiveFromSb)
{
    const std::string a = randomData(3000, 1), b = randomData(1, 2);
    writeFile(m_dir.file("a.bin"), a);
    writeFile(m_dir.file("b.bin"), b);
    writeFile(m_dir.file("c.bin"), "");
    {
        RelayLine line(m_dir.path());
        ASSERT_TRUE(line.ok());
        const std::string into = m_dir.file("rb");
        ::mkdir(into.c_str(), 0700);
        Qelterm send(onPort("send", line.nearPath(), "ymodem") << QString::fromStdString(m_dir.file("a.bin"))
                                                               << QString::fromStdString(m_dir.file("b.bin")));
        Peer rb("rb", {"-q"}, line.farPath(), into, line.answersPath());
        const Outcome r = send.finish(60000);
        EXPECT_EQ(r.code, 0) << r.err;
        EXPECT_TRUE(rb.finish(20000)) << rb.log();
        EXPECT_EQ(sha256(readFile(into + "/a.bin")), sha256(a));
        EXPECT_EQ(sha256(readFile(into + "/b.bin")), sha256(b));
        // Standard error is no terminal: a line per file.
        EXPECT_EQ(r.err, "a.bin: 3072 bytes, done\nb.bin: 128 bytes, done\n");
    }
    {
        SocatLine line(m_dir.path());
        ASSERT_TRUE(line.ok());
        const std::string into = m_dir.file("got");
        ::mkdir(into.c_str(), 0700);
        Qelterm receive(onPort("receive", line.nearPath(), "ymodem") << "--dir" << QString::fromStdString(into));
        Peer sb("sb", {"-q", "a.bin", "b.bin", "c.bin"}, line.farPath(), m_dir.path());
        const Outcome r = receive.finish(60000);
        EXPECT_EQ(r.code, 0) << r.err;
        EXPECT_TRUE(sb.finish(20000)) << sb.log();
        EXPECT_EQ(sha256(readFile(into + "/a.bin")), sha256(a));
        EXPECT_EQ(sha256(readFile(into + "/b.bin")), sha256(b));
        EXPECT_EQ(readFile(into + "/c.bin"), "");
        // The empty file has no data of its own, and shows none.
        EXPECT_EQ(r.err, "a.bin: 3000 bytes, done\nb.bin: 1 bytes, done\nc.bin: 0 bytes, done\n");
    }
}

TEST_F(TransferCommands, YmodemToItselfWithABarOnATerminal)
{
    const std::string data = randomData(300 * 1024, 3);
    writeFile(m_dir.file("big"), data);
    SocatLine line(m_dir.path());
    ASSERT_TRUE(line.ok());
    testsupport::PtyPair errTty;  // the receiver's standard error is a terminal
    // Read all along: a terminal nobody reads stops its writer.
    std::string shown;
    std::atomic<bool> reading{true};
    std::thread reader([&] {
        while (reading)
            shown += errTty.receive(4096, 50);
    });
    Qelterm receive(onPort("receive", line.farPath(), "ymodem") << "--dir" << QString::fromStdString(m_dir.file("")),
                    errTty.slavePath());
    pumpUntil([] { return false; }, 300);
    const Outcome sent = qelterm(onPort("send", line.nearPath(), "ymodem") << QString::fromStdString(m_dir.file("big")),
                             60000);
    EXPECT_EQ(sent.code, 0) << sent.err;
    const Outcome got = receive.finish(30000);
    EXPECT_EQ(got.code, 0);
    // The received copy got the next free name beside the original.
    EXPECT_EQ(sha256(readFile(m_dir.file("big.1"))), sha256(data));
    pumpUntil([] { return false; }, 300);
    reading = false;
    reader.join();
    EXPECT_NE(shown.find("\rbig.1 ["), std::string::npos) << shown.substr(0, 200);
    EXPECT_NE(shown.find("% "), std::string::npos);
    EXPECT_NE(shown.find("\rbig.1: 307200 bytes, done\033[K\n"), std::string::npos);
}

TEST_F(TransferCommands, AReceiverThatCancelsFailsWithItsMessage)
{
    testsupport::PtyPair pty;
    writeFile(m_dir.file("f"), "payload");
    Qelterm send(onPort("send", pty.slavePath(), "xmodem-crc") << QString::fromStdString(m_dir.file("f")));
    pumpUntil([] { return false; }, 1500);
    pty.send("\x18\x18");
    const Outcome r = send.finish(30000);
    EXPECT_EQ(r.code, qelterm::kTransferFailed);
    EXPECT_NE(r.err.find("qelterm: transfer failed: Receiver canceled\n"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("f: 0 bytes, aborted: Receiver canceled\n"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("done"), std::string::npos) << "an aborted file has one line: " << r.err;
}

// A file that fails without a message from the protocol says so with a
// reason of its own, never "done"; the empty file the receive made is gone.
TEST_F(TransferCommands, AFileThatFailsWithoutAMessageSaysFailed)
{
    testsupport::PtyPair pty;
    const std::string into = m_dir.file("in");
    ::mkdir(into.c_str(), 0700);
    Qelterm receive(onPort("receive", pty.slavePath(), "xmodem") << "--dir" << QString::fromStdString(into)
                                                                 << "out.bin");
    // No sender, only noise: each start request is answered with a byte that
    // starts no block, until the receiver gives up (quietly, as XModem does
    // before the first block).
    for (int i = 0; i < 10 && !pty.receive(1, 8000).empty(); ++i)
        pty.send("x");
    const Outcome r = receive.finish(30000);
    EXPECT_EQ(r.code, qelterm::kTransferFailed);
    EXPECT_EQ(r.err, "out.bin: 0 bytes, failed: no data arrived\nqelterm: transfer failed: no data arrived\n");
    struct stat st;
    EXPECT_NE(::stat((into + "/out.bin").c_str(), &st), 0) << "the empty file is removed";
}

// Ctrl-C: the file under way and the transfer say they were interrupted.
TEST_F(TransferCommands, InterruptedTransferSaysSo)
{
    testsupport::PtyPair pty;
    const std::string into = m_dir.file("in");
    ::mkdir(into.c_str(), 0700);
    Qelterm receive(onPort("receive", pty.slavePath(), "xmodem-crc") << "--dir" << QString::fromStdString(into)
                                                                     << "x.bin");
    ASSERT_EQ(pty.receive(1, 5000), "C");  // waiting for the sender
    receive.interrupt();
    const Outcome r = receive.finish(30000);
    EXPECT_EQ(r.code, qelterm::kTransferFailed);
    EXPECT_EQ(r.err, "x.bin: 0 bytes, failed: interrupted\nqelterm: transfer failed: interrupted\n");
}

TEST_F(TransferCommands, ZmodemResumesAHalfWrittenFile)
{
    // The receiving side holds a first half that differs from ours: only
    // the rest may travel, so the result is their half and our rest.
    if (!xfer::hasProtocol(xfer::Protocol_ZModem))
        GTEST_SKIP() << "this build has no ZModem";
    const std::string ours = randomData(200000, 4), theirs = randomData(100000, 5);
    writeFile(m_dir.file("image.bin"), ours);
    const std::string into = m_dir.file("rz");
    ::mkdir(into.c_str(), 0700);
    writeFile(into + "/image.bin", theirs);
    RelayLine line(m_dir.path());
    ASSERT_TRUE(line.ok());
    Peer rz("rz", {"-q", "-r"}, line.farPath(), into, line.answersPath());
    const Outcome r = qelterm(onPort("send", line.nearPath(), "zmodem") << QString::fromStdString(m_dir.file("image.bin")),
                          60000);
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_TRUE(rz.finish(20000)) << rz.log();
    const std::string result = readFile(into + "/image.bin");
    ASSERT_EQ(result.size(), ours.size());
    // rz asks for the data from its length rounded down to whole kilobytes.
    std::size_t from = 0;
    while (from < theirs.size() && result[from] == theirs[from])
        ++from;
    EXPECT_EQ(from, theirs.size() / 1024 * 1024);
    EXPECT_EQ(sha256(result), sha256(theirs.substr(0, from) + ours.substr(from)));
}

// A remote port: ser2net holds the line (its telnet(rfc2217) accepter on
// 127.0.0.1) and qelterm reaches it as rfc2217://127.0.0.1:N; 1 MB with
// ZModem arrives whole at rz on the other end of the line.
TEST_F(TransferCommands, ZmodemOverARemotePortToRzBehindSer2net)
{
    if (!xfer::hasProtocol(xfer::Protocol_ZModem))
        GTEST_SKIP() << "this build has no ZModem";
    const std::string data = randomData(1 << 20, 6);
    writeFile(m_dir.file("big.bin"), data);
    const std::string into = m_dir.file("rz");
    ::mkdir(into.c_str(), 0700);
    RelayLine line(m_dir.path());
    ASSERT_TRUE(line.ok());
    testsupport::Rfc2217Peer server(testsupport::Rfc2217Peer::Kind::Ser2net, line.nearPath());
    if (!server.missing().empty())
        GTEST_SKIP() << server.missing();
    ASSERT_TRUE(server.ok());
    Peer rz("rz", {"-q"}, line.farPath(), into, line.answersPath());
    const Outcome r = qelterm(onPort("send", server.url(), "zmodem") << QString::fromStdString(m_dir.file("big.bin")),
                              60000);
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_TRUE(rz.finish(20000)) << rz.log();
    EXPECT_EQ(sha256(readFile(into + "/big.bin")), sha256(data));
}

// The window's comm object watches for ZModem's start: "sz file" at the far
// end downloads into the transfer folder (here the current one) unasked.
TEST_F(TransferCommands, TheWindowReceivesWhatTheFarEndStartsWithSz)
{
    if (!xfer::hasProtocol(xfer::Protocol_ZModem))
        GTEST_SKIP() << "this build has no ZModem";
    const std::string data = randomData(20000, 6);
    const std::string from = m_dir.file("from"), window = m_dir.file("window");
    ::mkdir(from.c_str(), 0700);
    ::mkdir(window.c_str(), 0700);
    writeFile(from + "/log.txt", data);
    SocatLine line(m_dir.path());
    ASSERT_TRUE(line.ok());
    QProcess term;
    term.setWorkingDirectory(QString::fromStdString(window));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    term.setProcessEnvironment(env);
    term.start(QELTERM_PATH, {"--port", QString::fromStdString(line.nearPath()), "--settings", "115200,n,8,1"});
    ASSERT_TRUE(term.waitForStarted(5000));
    pumpUntil([] { return false; }, 1500);  // the window is up and polls the port
    Peer sz("sz", {"-q", "log.txt"}, line.farPath(), from);
    const bool arrived = pumpUntil([&] { return readFile(window + "/log.txt") == data; }, 60000);
    EXPECT_TRUE(arrived);
    EXPECT_TRUE(sz.finish(20000)) << sz.log();
    term.kill();
    term.waitForFinished(3000);
}

TEST(TransferCommandLine, UsageErrorsExitWithTwo)
{
    const std::vector<QStringList> bad = {
        {"send", "--protocol", "ymodem", "f"},                        // no port
        {"send", "--port", "COM3", "f"},                              // no protocol
        {"send", "--port", "COM3", "--protocol", "ymodem"},           // no file
        {"send", "--port", "COM3", "--protocol", "zmodem2", "f"},     // no such protocol
        {"receive", "--port", "COM3", "--protocol", "xmodem", "a", "b"},
        {"receive", "--port", "COM3", "--protocol", "xmodem", "--dir"},
        {"send", "--port", "COM3", "--protocol", "kermit", "--dir", "d", "f"},  // --dir is for receive
        {"receive", "--port", "COM3", "--protocol", "xmodem", "--fast"},
        {"send", "--port", "COM3", "--settings", "fast", "--protocol", "xmodem", QELTERM_PATH},
        {"send", "--port", "not a port", "--protocol", "xmodem", QELTERM_PATH},
    };
    for (const QStringList& args : bad) {
        const Outcome r = qelterm(args);
        EXPECT_EQ(r.code, qelterm::kTransferUsage) << args.join(' ').toStdString() << ": " << r.err;
        EXPECT_EQ(r.err.rfind("qelterm: ", 0), 0u) << r.err;
    }
    const auto parsed = qelterm::parseOptions({"receive", "--port", "COM2", "--protocol", "ymodem-g", "--dir", "/tmp",
                                               "name.bin"});
    ASSERT_TRUE(parsed.options) << parsed.error;
    EXPECT_EQ(parsed.options->mode, qelterm::Options::Mode::Receive);
    EXPECT_EQ(parsed.options->protocol, 4);
    EXPECT_EQ(parsed.options->dir, "/tmp");
    EXPECT_EQ(parsed.options->files, std::vector<std::string>{"name.bin"});
}

TEST(TransferCommandLine, FailuresBeforeTheTransferExitWithOne)
{
    testsupport::TempDir dir;
    testsupport::PortsMap ports;
    ports.map(9, "/nonexistent/tty");
    const Outcome missing = qelterm({"send", "--port", "COM9", "--protocol", "ymodem", QString::fromStdString(dir.file("none"))});
    EXPECT_EQ(missing.code, qelterm::kTransferFailed);
    EXPECT_NE(missing.err.find("cannot read"), std::string::npos) << missing.err;
    const Outcome port = qelterm({"send", "--port", "COM9", "--protocol", "ymodem", QELTERM_PATH});
    EXPECT_EQ(port.code, qelterm::kTransferFailed);
    EXPECT_NE(port.err.find("cannot open COM9"), std::string::npos) << port.err;
    // A remote port is a port name like any other: it fails to open when
    // nothing serves it, not as a usage error.
    const Outcome remote = qelterm({"send", "--port", "rfc2217://127.0.0.1:1", "--protocol", "ymodem", QELTERM_PATH});
    EXPECT_EQ(remote.code, qelterm::kTransferFailed);
    EXPECT_NE(remote.err.find("cannot open rfc2217://127.0.0.1:1"), std::string::npos) << remote.err;
    const Outcome folder = qelterm({"receive", "--port", "COM9", "--protocol", "ymodem", "--dir",
                                QString::fromStdString(dir.file("none"))});
    EXPECT_EQ(folder.code, qelterm::kTransferFailed);
    EXPECT_NE(folder.err.find("is not a folder"), std::string::npos) << folder.err;
}

}  // namespace
