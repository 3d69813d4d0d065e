// ZModem against lrzsz over a socat pseudo-terminal pair, both ways, files
// compared by hash; resumption of a half-received file; the automatic
// download a far-end sz starts.
#include "line_fixture.h"
#include "serial/loopback.h"
#include "transfer_engine.h"
#include "transfer_names.h"
#include "xymodem.h"
#include "zmodem.h"

#include <QElapsedTimer>

#include <algorithm>
#include <sys/stat.h>

using namespace xfertest;

namespace {

std::string lastMessage(QcHandle o)
{
    char text[200] = {};
    GetTransferMessage(o, text, sizeof text);
    return text;
}

// sz writes its closing "OO", then flushes its terminal's queues as it
// exits; on a pseudo-terminal that can throw the "OO" away before the other
// side read it, and our receiver then waits out its long finishing wait. So
// the tests run sz over a socket pair that socat joins to the line: the same
// bytes, and nothing a flush can drop.
QStringList overSocket(const std::string& tty, const QStringList& command)
{
    return QStringList{"FILE:" + QString::fromStdString(tty) + ",raw,echo=0", "EXEC:" + command.join(' ')};
}

const std::vector<std::size_t> kSizes = {0, 1, 1024, 1025, 1024 * 1024};

class ZmodemInterop : public TransferTest {
protected:
    std::string makeDir(const std::string& name)
    {
        const std::string dir = m_dir.file(name);
        ::mkdir(dir.c_str(), 0700);
        return dir;
    }
};

TEST_F(ZmodemInterop, RegisteredWithTheEngine) { EXPECT_TRUE(xfer::hasProtocol(xfer::Protocol_ZModem)); }

TEST_F(ZmodemInterop, WeSendRzReceives)
{
    SocatLine line(m_dir.path());
    ASSERT_TRUE(line.ok());
    QcHandle o = openObject(line.nearPath(), 41);
    SetProtocol(o, xfer::Protocol_ZModem);
    for (std::size_t size : kSizes) {
        SCOPED_TRACE(size);
        const std::string into = makeDir("rz" + std::to_string(size));
        const std::string data = randomData(size, unsigned(size) + 21);
        const std::string src = m_dir.file("z" + std::to_string(size));
        writeFile(src, data);
        ASSERT_EQ(Upload(o, src.c_str()), 1);
        Peer peer("rz", {"-q"}, line.farPath(), into);
        ASSERT_TRUE(waitForEnd(o));
        EXPECT_EQ(GetTransferStatus(o), 0) << lastMessage(o);
        EXPECT_TRUE(peer.finish(20000)) << peer.log();
        EXPECT_EQ(sha256(readFile(into + "/z" + std::to_string(size))), sha256(data));
    }
}

TEST_F(ZmodemInterop, BatchOfThreeToRz)
{
    SocatLine line(m_dir.path());
    ASSERT_TRUE(line.ok());
    QcHandle o = openObject(line.nearPath(), 42);
    SetProtocol(o, xfer::Protocol_ZModem);
    const std::string into = makeDir("batch");
    const std::vector<std::size_t> sizes = {1025, 0, 200 * 1024};
    std::vector<std::string> sent;
    for (std::size_t i = 0; i < sizes.size(); ++i) {
        sent.push_back(randomData(sizes[i], unsigned(i) + 31));
        const std::string src = m_dir.file("b" + std::to_string(i));
        writeFile(src, sent.back());
        ASSERT_EQ(Upload(o, src.c_str()), 1);
    }
    Peer peer("rz", {"-q"}, line.farPath(), into);
    ASSERT_TRUE(waitForEnd(o));
    EXPECT_EQ(GetTransferStatus(o), 0) << lastMessage(o);
    EXPECT_TRUE(peer.finish(20000)) << peer.log();
    for (std::size_t i = 0; i < sizes.size(); ++i)
        EXPECT_EQ(sha256(readFile(into + "/b" + std::to_string(i))), sha256(sent[i])) << i;
}

TEST_F(ZmodemInterop, SzSendsWeReceive)
{
    SocatLine line(m_dir.path());
    ASSERT_TRUE(line.ok());
    QcHandle o = openObject(line.nearPath(), 43);
    SetProtocol(o, xfer::Protocol_ZModem);
    for (std::size_t size : kSizes) {
        SCOPED_TRACE(size);
        const std::string into = makeDir("got" + std::to_string(size));
        SetXferPath(o, into.c_str());
        const std::string data = randomData(size, unsigned(size) + 23);
        const std::string name = "s" + std::to_string(size);
        writeFile(m_dir.file(name), data);
        ASSERT_EQ(Download(o, nullptr), 1);
        Peer peer("socat", overSocket(line.farPath(), {"sz", "-q", QString::fromStdString(name)}), "/dev/null", m_dir.path());
        ASSERT_TRUE(waitForEnd(o));
        EXPECT_EQ(GetTransferStatus(o), 0) << lastMessage(o);
        EXPECT_TRUE(peer.finish(20000)) << peer.log();
        EXPECT_EQ(sha256(readFile(into + "/" + name)), sha256(data));
    }
}

TEST_F(ZmodemInterop, BatchOfThreeFromSz)
{
    SocatLine line(m_dir.path());
    ASSERT_TRUE(line.ok());
    QcHandle o = openObject(line.nearPath(), 44);
    SetProtocol(o, xfer::Protocol_ZModem);
    const std::string into = makeDir("fromsz");
    SetXferPath(o, into.c_str());
    const std::vector<std::size_t> sizes = {1, 300 * 1024, 0};
    std::vector<std::string> sent;
    QStringList args{"-q"};
    for (std::size_t i = 0; i < sizes.size(); ++i) {
        sent.push_back(randomData(sizes[i], unsigned(i) + 41));
        const std::string name = "t" + std::to_string(i);
        writeFile(m_dir.file(name), sent.back());
        args << QString::fromStdString(name);
    }
    ASSERT_EQ(Download(o, nullptr), 1);
    Peer peer("socat", overSocket(line.farPath(), QStringList{"sz"} + args), "/dev/null", m_dir.path());
    ASSERT_TRUE(waitForEnd(o));
    EXPECT_EQ(GetTransferStatus(o), 0) << lastMessage(o);
    EXPECT_TRUE(peer.finish(20000)) << peer.log();
    for (std::size_t i = 0; i < sizes.size(); ++i)
        EXPECT_EQ(sha256(readFile(into + "/t" + std::to_string(i))), sha256(sent[i])) << i;
}

// rz -r finds half the file and asks for the rest. The half on its side
// differs from ours, so the result shows that only the rest went out.
TEST_F(ZmodemInterop, RzResumesAndWeSendOnlyTheRest)
{
    SocatLine line(m_dir.path());
    ASSERT_TRUE(line.ok());
    QcHandle o = openObject(line.nearPath(), 45);
    SetProtocol(o, xfer::Protocol_ZModem);
    const std::string into = makeDir("resume");
    const std::size_t size = 300 * 1024 + 17, half = 150 * 1024;
    const std::string data = randomData(size, 51);
    const std::string theirs = randomData(half, 52);
    writeFile(m_dir.file("r.bin"), data);
    writeFile(into + "/r.bin", theirs);
    ASSERT_EQ(Upload(o, m_dir.file("r.bin").c_str()), 1);
    Peer peer("rz", {"-q", "-r"}, line.farPath(), into);
    ASSERT_TRUE(waitForEnd(o));
    EXPECT_EQ(GetTransferStatus(o), 0) << lastMessage(o);
    EXPECT_TRUE(peer.finish(20000)) << peer.log();
    EXPECT_EQ(sha256(readFile(into + "/r.bin")), sha256(theirs + data.substr(half)));
}

// sz -r asks to resume: the half we already have is kept, only the rest
// comes, and no second copy appears. Our half differs from the sender's, so
// the result shows what went over the line.
TEST_F(ZmodemInterop, SzResumeAppendsToTheFileWeHave)
{
    SocatLine line(m_dir.path());
    ASSERT_TRUE(line.ok());
    QcHandle o = openObject(line.nearPath(), 47);
    SetProtocol(o, xfer::Protocol_ZModem);
    const std::string into = makeDir("again");
    SetXferPath(o, into.c_str());
    const std::size_t size = 200 * 1024 + 5, half = 90 * 1024 + 1;
    const std::string data = randomData(size, 71);
    const std::string ours = randomData(half, 72);
    writeFile(m_dir.file("big.bin"), data);
    writeFile(into + "/big.bin", ours);
    ASSERT_EQ(Download(o, nullptr), 1);
    Peer peer("socat", overSocket(line.farPath(), {"sz", "-q", "-r", "big.bin"}), "/dev/null", m_dir.path());
    ASSERT_TRUE(waitForEnd(o));
    EXPECT_EQ(GetTransferStatus(o), 0) << lastMessage(o);
    EXPECT_TRUE(peer.finish(20000)) << peer.log();
    EXPECT_EQ(sha256(readFile(into + "/big.bin")), sha256(ours + data.substr(half)));
    EXPECT_FALSE(xfer::pathExists(into + "/big.bin.1"));
}

// Without the resume request an existing file is never touched: the new
// one gets the next free name.
TEST_F(ZmodemInterop, ExistingFileIsKeptWithoutAResumeRequest)
{
    SocatLine line(m_dir.path());
    ASSERT_TRUE(line.ok());
    QcHandle o = openObject(line.nearPath(), 48);
    SetProtocol(o, xfer::Protocol_ZModem);
    const std::string into = makeDir("keep");
    SetXferPath(o, into.c_str());
    const std::string data = randomData(5000, 73);
    writeFile(m_dir.file("k.bin"), data);
    writeFile(into + "/k.bin", "mine");
    ASSERT_EQ(Download(o, nullptr), 1);
    Peer peer("socat", overSocket(line.farPath(), {"sz", "-q", "k.bin"}), "/dev/null", m_dir.path());
    ASSERT_TRUE(waitForEnd(o));
    EXPECT_EQ(GetTransferStatus(o), 0) << lastMessage(o);
    EXPECT_TRUE(peer.finish(20000)) << peer.log();
    EXPECT_EQ(readFile(into + "/k.bin"), "mine");
    EXPECT_EQ(sha256(readFile(into + "/k.bin.1")), sha256(data));
}

// A file that cannot be created (its name is too long once ".1" is added
// to keep the file already there) is skipped: sz goes on with the next
// one instead of offering it for ever, and the transfer reports why it
// failed.
TEST_F(ZmodemInterop, FileThatCannotBeCreatedIsSkippedAndTheBatchGoesOn)
{
    SocatLine line(m_dir.path());
    ASSERT_TRUE(line.ok());
    QcHandle o = openObject(line.nearPath(), 49);
    SetProtocol(o, xfer::Protocol_ZModem);
    const std::string into = makeDir("full");
    SetXferPath(o, into.c_str());
    const std::string longName(254, 'n');
    writeFile(m_dir.file(longName), "new contents");
    writeFile(into + "/" + longName, "kept");
    const std::string data = randomData(3000, 74);
    writeFile(m_dir.file("after.bin"), data);
    ASSERT_EQ(Download(o, nullptr), 1);
    Peer peer("socat", overSocket(line.farPath(), {"sz", "-q", QString::fromStdString(longName), "after.bin"}),
              "/dev/null", m_dir.path());
    ASSERT_TRUE(waitForEnd(o, 30000)) << "the file that cannot be created holds the transfer";
    EXPECT_EQ(GetTransferStatus(o), -1);
    EXPECT_EQ(lastMessage(o).rfind("Cannot create ", 0), 0u) << lastMessage(o);
    peer.finish(20000);
    EXPECT_EQ(readFile(into + "/" + longName), "kept");
    EXPECT_EQ(sha256(readFile(into + "/after.bin")), sha256(data));
}

// sz right on the pseudo-terminal: its exit flush often drops the closing
// "OO". Once ZFIN has been exchanged the file is complete, and the
// transfer ends within seconds either way.
TEST_F(ZmodemInterop, SzOnThePtyEndsSoonWhenItsClosingBytesAreLost)
{
    SocatLine line(m_dir.path());
    ASSERT_TRUE(line.ok());
    QcHandle o = openObject(line.nearPath(), 50);
    SetProtocol(o, xfer::Protocol_ZModem);
    for (int round = 0; round < 6; ++round) {
        SCOPED_TRACE(round);
        const std::string into = makeDir("pty" + std::to_string(round));
        SetXferPath(o, into.c_str());
        const std::string name = "p" + std::to_string(round);
        const std::string data = randomData(2000, unsigned(round) + 81);
        writeFile(m_dir.file(name), data);
        ASSERT_EQ(Download(o, nullptr), 1);
        Peer peer("sz", {"-q", QString::fromStdString(name)}, line.farPath(), m_dir.path());
        EXPECT_TRUE(peer.finish(20000)) << peer.log();
        ASSERT_TRUE(waitForEnd(o, 8000)) << "still waiting for the closing OO";
        EXPECT_EQ(GetTransferStatus(o), 0) << lastMessage(o);
        EXPECT_EQ(sha256(readFile(into + "/" + name)), sha256(data));
    }
}

// Automatic receive on: a far-end sz starts the download by itself.
TEST_F(ZmodemInterop, FarEndSzDownloadsIntoTheTransferFolder)
{
    SocatLine line(m_dir.path());
    ASSERT_TRUE(line.ok());
    QcHandle o = openObject(line.nearPath(), 46);
    const std::string into = makeDir("auto");
    SetXferPath(o, into.c_str());
    SetAutoProcess(o, 1);
    const std::string data = randomData(64 * 1024 + 3, 61);
    writeFile(m_dir.file("a.bin"), data);
    Peer peer("socat", overSocket(line.farPath(), {"sz", "-q", "a.bin"}), "/dev/null", m_dir.path());
    ASSERT_TRUE(pumpUntil([&] { return GetTransferType(o) == 2; }, 20000)) << "no download started";
    ASSERT_TRUE(waitForEnd(o));
    EXPECT_EQ(GetTransferStatus(o), 0) << lastMessage(o);
    EXPECT_TRUE(peer.finish(20000)) << peer.log();
    EXPECT_EQ(sha256(readFile(into + "/a.bin")), sha256(data));
}

// A sender's attention string on the loopback double, whose far end sees
// the line's break: a break byte holds a break, between the bytes around
// it, before the receiver asks for the data again.
class ZmodemAttention : public TransferTest {
protected:
    void TearDown() override
    {
        if (m_far != serial::INVALID_HANDLE_VALUE)
            serial::CloseHandle(m_far);
        TransferTest::TearDown();
        serial::loopback::removeAll();
    }
    void farWrite(const std::vector<std::uint8_t>& bytes)
    {
        std::uint32_t done = 0;
        serial::WriteFile(m_far, bytes.data(), std::uint32_t(bytes.size()), &done);
    }
    // Reads from the far end until the bytes end with tail; what was read.
    std::string farReadUntil(const std::vector<std::uint8_t>& tail, int ms)
    {
        std::string got;
        const std::string want(tail.begin(), tail.end());
        pumpUntil([&] {
            char buffer[256];
            std::uint32_t n = 0;
            serial::ReadFile(m_far, buffer, sizeof buffer, &n);
            got.append(buffer, n);
            return got.find(want) != std::string::npos;
        }, ms);
        return got;
    }
    serial::Handle m_far = serial::INVALID_HANDLE_VALUE;
};

std::vector<std::uint8_t> frame(int type, const xfer::zm::Header& h, const std::string& data = {}, std::uint8_t end = 0)
{
    std::vector<std::uint8_t> out;
    xfer::zm::Encoder e(
        [](void* c, const std::uint8_t* b, std::size_t n) {
            auto* v = static_cast<std::vector<std::uint8_t>*>(c);
            v->insert(v->end(), b, b + n);
            return true;
        },
        &out);
    e.binaryHeader(type, h);
    if (end)
        e.subpacket(reinterpret_cast<const std::uint8_t*>(data.data()), data.size(), end);
    e.flush();
    return out;
}

TEST_F(ZmodemAttention, BreakByteHoldsABreakOnTheLine)
{
    using namespace xfer::zm;
    serial::loopback::createPair("COM58", "FAR58");
    m_far = serial::CreateFile("FAR58");
    ASSERT_NE(m_far, serial::INVALID_HANDLE_VALUE);
    serial::COMMTIMEOUTS t{};
    t.ReadIntervalTimeout = 0xFFFFFFFFu;   // reads return at once
    serial::SetCommTimeouts(m_far, &t);
    QcHandle o = CreateCommObject(0);
    m_objects.push_back(o);
    SetCommPort(o, 58);
    ASSERT_EQ(SetPortOpen(o, 1), 1);
    SetProtocol(o, xfer::Protocol_ZModem);
    SetXferPath(o, m_dir.path().c_str());
    ASSERT_EQ(Download(o, nullptr), 1);

    Header rinit{};
    rinit[ZF0] = CANFDX | CANOVIO;
    ASSERT_NE(farReadUntil(hexHeader(ZRINIT, rinit), 5000).size(), 0u);
    farWrite(frame(ZSINIT, Header{}, std::string("a\xdd" "b\0", 4), ZCRCW));
    farWrite(frame(ZFILE, Header{}, std::string("att.bin\0" "10", 10), ZCRCW));
    ASSERT_NE(farReadUntil(hexHeader(ZRPOS, positionHeader(0)), 5000).find('*'), std::string::npos);
    QElapsedTimer clock;
    clock.start();
    // Data from a position the receiver did not ask for.
    farWrite(frame(ZDATA, positionHeader(5), "12345", ZCRCE));
    const std::string answer = farReadUntil(hexHeader(ZRPOS, positionHeader(0)), 8000);
    EXPECT_GE(clock.elapsed(), 1900);
    EXPECT_EQ(serial::loopback::state("COM58").breakCount, 1);
    EXPECT_FALSE(serial::loopback::state("COM58").breakOn);
    ASSERT_GE(answer.size(), 2u);
    EXPECT_EQ(answer.substr(0, 2), "ab");
    farWrite(std::vector<std::uint8_t>(8, xfer::CAN));   // the sender gives up
    EXPECT_TRUE(waitForEnd(o, 10000));
}

}  // namespace
