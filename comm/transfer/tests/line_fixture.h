// Comm objects on real pseudo-terminals for the engine tests: a socat pair
// for peer programs, transfers run to their end while pumping messages.
#pragma once

#include "qelcomm.h"
#include "pump.h"
#include "temp_dir.h"
#include "pty_pair.h"

#include <gtest/gtest.h>

#include <QProcess>
#include <QStringList>

#include <atomic>
#include <functional>
#include <thread>
#include <memory>
#include <string>

namespace xfertest {

using testsupport::pumpUntil;
std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& data);
std::string randomData(std::size_t n, unsigned seed);
std::string sha256(const std::string& data);

// Two linked pseudo-terminals made by socat: "near" for comm objects,
// "far" for the peer program.
class SocatLine {
public:
    explicit SocatLine(const std::string& dir);
    ~SocatLine();
    bool ok() const { return m_ok; }
    std::string nearPath() const { return m_dir + "/near"; }
    std::string farPath() const { return m_dir + "/far"; }

private:
    std::string m_dir;
    QProcess m_socat;
    bool m_ok = false;
};

// A line for peers whose last answer must survive them. lrzsz's receivers
// write their final ACK and at once flush their tty both ways on exit; on a
// pseudo-terminal the flush throws away whatever the other side has not read
// yet (tcdrain does not wait for a pty's reader), so that ACK is lost more
// often than not. A serial port sends what was written before the flush.
// Here the peer reads a pseudo-terminal ("far", its purges act as on a real
// port) and writes into a pipe ("answers"); a relay thread moves the bytes
// between them and the "near" pseudo-terminal of the comm objects.
class RelayLine {
public:
    explicit RelayLine(const std::string& dir);
    ~RelayLine();
    bool ok() const { return m_ok; }
    std::string nearPath() const;
    std::string farPath() const;
    std::string answersPath() const { return m_dir + "/answers"; }
    // lrzsz's receivers also purge their input right after each answer;
    // a sender that replies within microseconds (as ours does on a
    // pseudo-terminal) would see its next block purged. On a serial port
    // the answer is still on the wire then. With the reader's process
    // given, bytes that follow an answer wait until it sleeps in a read.
    void setReader(qint64 pid) { m_reader = pid; }

private:
    void relay();
    std::string m_dir;
    std::atomic<qint64> m_reader{0};
    std::unique_ptr<testsupport::PtyPair> m_near, m_far;
    int m_answers = -1;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
    bool m_ok = false;
};

// A peer program with its standard input and output on a tty, bounded in
// time; with "answers" set its output goes there instead.
class Peer {
public:
    Peer(const QString& program, const QStringList& args, const std::string& tty, const std::string& cwd,
         const std::string& answers = {});
    ~Peer();
    // Waits for the exit; kills the peer after ms. True for exit status 0.
    bool finish(int ms);
    std::string log() const;
    qint64 pid() const { return m_process.processId(); }

private:
    QProcess m_process;
    std::string m_log;
};

class TransferTest : public ::testing::Test {
protected:
    void TearDown() override;
    // A comm object opened on the path, mapped as COM<com>.
    QcHandle openObject(const std::string& path, int com);
    // Pumps until the object's transfer is over; false on time-out.
    bool waitForEnd(QcHandle object, int ms = 100000);

    testsupport::TempDir m_dir;
    std::unique_ptr<testsupport::PortsMap> m_ports;
    std::vector<QcHandle> m_objects;
};

}  // namespace xfertest
