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
#include <poll.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
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

RelayLine::RelayLine(const std::string& dir) : m_dir(dir)
{
    try {
        m_near = std::make_unique<testsupport::PtyPair>();
        m_far = std::make_unique<testsupport::PtyPair>();
    } catch (const std::exception&) {
        return;
    }
    // Opened for reading and writing, the pipe never reports a hang-up
    // between one peer and the next.
    if (::mkfifo(answersPath().c_str(), 0600) != 0
        || (m_answers = ::open(answersPath().c_str(), O_RDWR | O_NONBLOCK)) < 0)
        return;
    m_thread = std::thread([this] { relay(); });
    m_ok = true;
}

RelayLine::~RelayLine()
{
    m_stop = true;
    if (m_thread.joinable())
        m_thread.join();
    if (m_answers >= 0)
        ::close(m_answers);
}

std::string RelayLine::nearPath() const { return m_near ? m_near->slavePath() : std::string(); }
std::string RelayLine::farPath() const { return m_far ? m_far->slavePath() : std::string(); }

namespace {
// Writes all of it to a non-blocking descriptor, waiting for room; gives up
// when the reader stays stuck for seconds.
void writeAll(int fd, const char* data, std::size_t n)
{
    for (int stuck = 0; n > 0 && stuck < 500;) {
        const ssize_t w = ::write(fd, data, n);
        if (w > 0) {
            data += w;
            n -= std::size_t(w);
            stuck = 0;
        } else {
            pollfd p{fd, POLLOUT, 0};
            ::poll(&p, 1, 10);
            ++stuck;
        }
    }
}
// True once the process sleeps in a call that waits for input; the kernel
// names the call only for a task that is not running.
bool waitingForInput(qint64 pid)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/syscall");
    long nr = -1;
    if (!(in >> nr))
        return false;
    return nr == SYS_read || nr == SYS_pselect6 || nr == SYS_ppoll
#ifdef SYS_select
           || nr == SYS_select || nr == SYS_poll
#endif
        ;
}

void waitForReader(qint64 pid)
{
    if (pid <= 0)
        return;
    for (int i = 0; i < 20000 && !waitingForInput(pid); ++i)
        std::this_thread::sleep_for(std::chrono::microseconds(50));
}
}  // namespace

void RelayLine::relay()
{
    const int nearFd = m_near->master(), farFd = m_far->master();
    // XFER_WIRE=<file>: every chunk moved, with its time and direction.
    std::FILE* wire = std::getenv("XFER_WIRE") ? std::fopen(std::getenv("XFER_WIRE"), "w") : nullptr;
    const auto start = std::chrono::steady_clock::now();
    auto log = [&](char direction, const char* bytes, ssize_t n) {
        if (!wire)
            return;
        const auto us = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start);
        std::fprintf(wire, "%c %10.6f %4zd", direction, us.count() / 1e6, n);
        for (ssize_t i = 0; i < std::min<ssize_t>(n, 8); ++i)
            std::fprintf(wire, " %02x", unsigned(static_cast<unsigned char>(bytes[i])));
        std::fputc('\n', wire);
    };
    char buffer[4096];
    bool answered = false;
    while (!m_stop) {
        pollfd p[2] = {{nearFd, POLLIN, 0}, {m_answers, POLLIN, 0}};
        if (::poll(p, 2, 20) <= 0)
            continue;
        if (p[0].revents & POLLIN) {
            const ssize_t n = ::read(nearFd, buffer, sizeof buffer);
            log('>', buffer, n);
            if (n > 0 && answered)
                waitForReader(m_reader);
            answered = false;
            if (n > 0)
                writeAll(farFd, buffer, std::size_t(n));
        }
        if (p[1].revents & POLLIN) {
            const ssize_t n = ::read(m_answers, buffer, sizeof buffer);
            log('<', buffer, n);
            if (n > 0) {
                writeAll(nearFd, buffer, std::size_t(n));
                answered = true;
            }
        }
    }
    if (wire)
        std::fclose(wire);
}

Peer::Peer(const QString& program, const QStringList& args, const std::string& tty, const std::string& cwd,
           const std::string& answers)
{
    m_log = cwd + "/peer.log";
    dieWithParent(m_process);
    m_process.setWorkingDirectory(QString::fromStdString(cwd));
    m_process.setStandardInputFile(QString::fromStdString(tty));
    m_process.setStandardOutputFile(QString::fromStdString(answers.empty() ? tty : answers));
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
