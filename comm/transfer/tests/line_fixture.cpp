#include "line_fixture.h"

#include "transfer_engine.h"

#include <QCryptographicHash>
#include <QThread>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <csignal>
#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <thread>

namespace xfertest {

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void writeFile(const std::string& path, const std::string& data)
{
    std::ofstream(path, std::ios::binary) << data;
}

std::string randomData(std::size_t n, unsigned seed)
{
    std::mt19937 gen(seed);
    std::string s(n, '\0');
    for (char& c : s)
        c = char(gen() & 0xFF);
    return s;
}

std::string sha256(const std::string& data)
{
    return QCryptographicHash::hash(QByteArray::fromStdString(data), QCryptographicHash::Sha256).toHex().toStdString();
}

namespace {
// Children die with the test, even when it is killed for taking too long.
void dieWithParent(QProcess& p)
{
    p.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
}
}  // namespace

SocatLine::SocatLine(const std::string& dir) : m_dir(dir)
{
    dieWithParent(m_socat);
    // XFER_WIRE=<file>: socat writes every byte on the line there.
    QStringList options;
    if (const char* wire = std::getenv("XFER_WIRE")) {
        options << "-x";
        m_socat.setStandardErrorFile(wire);
    }
    m_socat.start("socat", options + QStringList{"pty,raw,echo=0,link=" + QString::fromStdString(nearPath()),
                            "pty,raw,echo=0,link=" + QString::fromStdString(farPath())});
    struct stat st;
    m_ok = m_socat.waitForStarted(5000) && pumpUntil([&] {
               return ::stat(nearPath().c_str(), &st) == 0 && ::stat(farPath().c_str(), &st) == 0;
           }, 5000);
}

SocatLine::~SocatLine()
{
    m_socat.terminate();
    if (!m_socat.waitForFinished(3000))
        m_socat.kill();
    m_socat.waitForFinished(1000);
}

Peer::Peer(const QString& program, const QStringList& args, const std::string& tty, const std::string& cwd)
{
    m_log = cwd + "/peer.log";
    dieWithParent(m_process);
    m_process.setWorkingDirectory(QString::fromStdString(cwd));
    m_process.setStandardInputFile(QString::fromStdString(tty));
    m_process.setStandardOutputFile(QString::fromStdString(tty));
    m_process.setStandardErrorFile(QString::fromStdString(m_log));
    m_process.start(program, args);
    m_process.waitForStarted(5000);
}

Peer::~Peer()
{
    if (m_process.state() != QProcess::NotRunning) {
        m_process.kill();
        m_process.waitForFinished(2000);
    }
}

bool Peer::finish(int ms)
{
    if (!pumpUntil([&] { return m_process.state() == QProcess::NotRunning || m_process.waitForFinished(5); }, ms)) {
        m_process.kill();
        m_process.waitForFinished(2000);
        return false;
    }
    return m_process.exitStatus() == QProcess::NormalExit && m_process.exitCode() == 0;
}

std::string Peer::log() const { return readFile(m_log); }

namespace {
// With XFER_TRACE set, every transfer event is printed: status and message.
void traceEvent(QcHandle object, int, int code)
{
    if (code != 100 || !std::getenv("XFER_TRACE"))
        return;
    char text[200] = {};
    GetTransferMessage(object, text, sizeof text);
    std::fprintf(stderr, "[%lu] status %d sent %d msg '%s'\n", static_cast<unsigned long>(object),
                 GetTransferStatus(object), GetTransferBytesTransferred(object), text);
}
}  // namespace

void TransferTest::TearDown()
{
    for (QcHandle o : m_objects)
        DestroyCommObject(o);
    pumpUntil([] { return false; }, 50);
}

QcHandle TransferTest::openObject(const std::string& path, int com)
{
    if (!m_ports)
        m_ports = std::make_unique<testsupport::PortsMap>();
    m_ports->map(com, path);
    QcHandle o = CreateCommObject(0);
    EXPECT_NE(o, 0u);
    m_objects.push_back(o);
    SetEventHandler(o, traceEvent);
    SetCommPort(o, com);
    SetSettings(o, "115200,n,8,1");
    EXPECT_EQ(SetPortOpen(o, 1), 1);
    return o;
}

bool TransferTest::waitForEnd(QcHandle object, int ms)
{
    return pumpUntil([&] { return GetTransferType(object) == 0; }, ms);
}

}  // namespace xfertest
