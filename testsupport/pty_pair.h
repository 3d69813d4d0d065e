// A pseudo-terminal pair for tests: the slave is the "serial port" under
// test, the master is the device at the far end of the line.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace testsupport {

class PtyPair {
public:
    PtyPair();   // opens the pair (raw mode on the slave side); fails the test on error
    ~PtyPair();
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    int master() const { return m_master; }
    const std::string& slavePath() const { return m_slave; }

    // Writes all bytes to the master (the far end sends them).
    void send(const std::string& bytes);
    // Reads from the master until count bytes came or ms passed.
    std::string receive(std::size_t count, int ms);

    // The line settings the port under test put on the tty, as seen from
    // the far end.
    struct Line {
        unsigned baud = 0;
        int dataBits = 0;
        char parity = 'n';  // n, o, e, m, s
        int stopBits = 1;
        bool rtsCts = false;
        bool xonXoff = false;  // IXON and IXOFF both set
    };
    Line line() const;

    // The far end goes away, as an unplugged device does: the master and the
    // slave this pair held are closed, so the port under test is hung up.
    void hangUp();

private:
    int m_master = -1;
    int m_keepSlave = -1;  // keeps the slave side alive between opens
    std::string m_slave;
};

// Writes a ports map file "[Ports]\nCOMn=path" for the given entries into a
// fresh temporary file and points $LINTREL_PORTS at it for this process.
class PortsMap {
public:
    PortsMap();
    ~PortsMap();
    void map(int comNumber, const std::string& path);

private:
    std::string m_file;
    std::vector<std::string> m_lines;
    void write();
};

}  // namespace testsupport
