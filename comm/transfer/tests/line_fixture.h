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

#include <functional>
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

// A peer program with its standard input and output on a tty, bounded in time.
class Peer {
public:
    Peer(const QString& program, const QStringList& args, const std::string& tty, const std::string& cwd);
    ~Peer();
    // Waits for the exit; kills the peer after ms. True for exit status 0.
    bool finish(int ms);
    std::string log() const;

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
