// The engine against lrzsz over a socat pseudo-terminal pair, both ways,
// files compared by hash; and two comm objects against each other for the
// protocol lrzsz does not offer (YModem-G).
#include "line_fixture.h"
#include "transfer_engine.h"
#include "xymodem.h"

#include <sys/stat.h>

using namespace xfertest;

namespace {

std::string lastMessage(QcHandle o)
{
    char text[200] = {};
    GetTransferMessage(o, text, sizeof text);
    return text;
}

const std::vector<std::size_t> kSizes = {0, 1, 127, 128, 1023, 1024, 1025, 300 * 1024};

// XModem keeps the fill of the last block: the data, then SUB up to the
// block's end.
void expectPadded(const std::string& got, const std::string& sent)
{
    ASSERT_GE(got.size(), sent.size());
    EXPECT_EQ(sha256(got.substr(0, sent.size())), sha256(sent));
    EXPECT_LT(got.size() - sent.size(), 1024u);
    EXPECT_EQ(got.find_first_not_of('\x1a', sent.size()), std::string::npos);
}

struct XCase {
    int protocol;
    const char* peer;
    QStringList args;
};

class XmodemInterop : public TransferTest, public ::testing::WithParamInterface<XCase> {};

// rx answers on a relay line: its exit would otherwise flush its last ACK
// away on a pseudo-terminal (see RelayLine).
TEST_P(XmodemInterop, WeSendPeerReceives)
{
    const XCase c = GetParam();
    if (std::string(c.peer) != "rx")
        GTEST_SKIP() << "sending is checked against rx";
    RelayLine line(m_dir.path());
    ASSERT_TRUE(line.ok());
    QcHandle o = openObject(line.nearPath(), 31);
    SetProtocol(o, c.protocol);
    // lrzsz's rx ignores an EOT in place of the first block, so an empty
    // file cannot go to it by XModem.
    for (std::size_t size : kSizes) {
        if (size == 0)
            continue;
        SCOPED_TRACE(size);
        const std::string data = randomData(size, unsigned(size) + 1);
        const std::string src = m_dir.file("src" + std::to_string(size));
        writeFile(src, data);
        ASSERT_EQ(Upload(o, src.c_str()), 1);
        pumpUntil([] { return false; }, 300);  // the sender is listening before the receiver starts
        Peer peer(c.peer, c.args + QStringList{"got" + QString::number(size)}, line.farPath(), m_dir.path(),
                  line.answersPath());
        line.setReader(peer.pid());
        ASSERT_TRUE(waitForEnd(o));
        EXPECT_EQ(GetTransferStatus(o), 0) << lastMessage(o);
        EXPECT_TRUE(peer.finish(20000)) << peer.log();
        expectPadded(readFile(m_dir.file("got" + std::to_string(size))), data);
    }
}

TEST_P(XmodemInterop, PeerSendsWeReceive)
{
    const XCase c = GetParam();
    SocatLine line(m_dir.path());
    ASSERT_TRUE(line.ok());
    QcHandle o = openObject(line.nearPath(), 32);
    SetProtocol(o, c.protocol);
    SetXferPath(o, m_dir.path().c_str());
    for (std::size_t size : kSizes) {
        SCOPED_TRACE(size);
        const std::string data = randomData(size, unsigned(size) + 7);
        const std::string name = "in" + std::to_string(size);
        writeFile(m_dir.file(name), data);
        const std::string out = "out" + std::to_string(size);
        ASSERT_EQ(Download(o, out.c_str()), 1);
        QStringList args{"-q"};
        if (c.protocol == xfer::Protocol_XModem1K)
            args << "-k";
        Peer peer("sx", args << QString::fromStdString(name), line.farPath(), m_dir.path());
        ASSERT_TRUE(waitForEnd(o));
        EXPECT_EQ(GetTransferStatus(o), 0) << lastMessage(o);
        EXPECT_TRUE(peer.finish(20000)) << peer.log();
        expectPadded(readFile(m_dir.file(out)), data);
    }
}

INSTANTIATE_TEST_SUITE_P(Lrzsz, XmodemInterop,
                         ::testing::Values(XCase{xfer::Protocol_XModem, "rx", {"-q"}},
                                           XCase{xfer::Protocol_XModemCrc, "rx", {"-q", "-c"}},
                                           XCase{xfer::Protocol_XModem1K, "rx", {"-q", "-c"}}),
                         [](const auto& info) { return std::string(xfer::protocolName(info.param.protocol)) == "XModem"
                                                           ? std::string("Checksum")
                                                           : info.param.protocol == 1 ? std::string("Crc") : std::string("OneK"); });

class YmodemInterop : public TransferTest {
protected:
    // Three files of the listed sizes per batch.
    std::vector<std::vector<std::size_t>> batches() const
    {
        return {{0, 1, 127}, {128, 1023, 1024}, {1025, 300 * 1024, 5}};
    }
};

// rb, like rx, flushes its tty on exit: it answers on a relay line.
TEST_F(YmodemInterop, BatchesToRb)
{
    RelayLine line(m_dir.path());
    ASSERT_TRUE(line.ok());
    QcHandle o = openObject(line.nearPath(), 33);
    SetProtocol(o, xfer::Protocol_YModem);
    int batchNo = 0;
    for (const auto& batch : batches()) {
        const std::string into = m_dir.file("rb" + std::to_string(++batchNo));
        ::mkdir(into.c_str(), 0700);
        std::vector<std::string> sent;
        for (std::size_t size : batch) {
            sent.push_back(randomData(size, unsigned(size) + 3));
            const std::string src = m_dir.file("y" + std::to_string(size));
            writeFile(src, sent.back());
            ASSERT_EQ(Upload(o, src.c_str()), 1);
        }
        pumpUntil([] { return false; }, 300);
        Peer peer("rb", {"-q"}, line.farPath(), into, line.answersPath());
        line.setReader(peer.pid());
        ASSERT_TRUE(waitForEnd(o));
        EXPECT_EQ(GetTransferStatus(o), 0) << lastMessage(o);
        EXPECT_TRUE(peer.finish(20000)) << peer.log();
        for (std::size_t i = 0; i < batch.size(); ++i)
            EXPECT_EQ(sha256(readFile(into + "/y" + std::to_string(batch[i]))), sha256(sent[i])) << batch[i];
    }
}

TEST_F(YmodemInterop, BatchesFromSb)
{
    SocatLine line(m_dir.path());
    ASSERT_TRUE(line.ok());
    QcHandle o = openObject(line.nearPath(), 34);
    SetProtocol(o, xfer::Protocol_YModem);
    int batchNo = 0;
    for (const auto& batch : batches()) {
        const std::string into = m_dir.file("got" + std::to_string(++batchNo));
        ::mkdir(into.c_str(), 0700);
        SetXferPath(o, into.c_str());
        QStringList args{"-q"};
        std::vector<std::string> sent;
        for (std::size_t size : batch) {
            sent.push_back(randomData(size, unsigned(size) + 5));
            const std::string name = "s" + std::to_string(size);
            writeFile(m_dir.file(name), sent.back());
            args << QString::fromStdString(name);
        }
        ASSERT_EQ(Download(o, nullptr), 1);
        Peer peer("sb", args, line.farPath(), m_dir.path());
        ASSERT_TRUE(waitForEnd(o));
        EXPECT_EQ(GetTransferStatus(o), 0) << lastMessage(o);
        EXPECT_TRUE(peer.finish(20000)) << peer.log();
        for (std::size_t i = 0; i < batch.size(); ++i)
            EXPECT_EQ(sha256(readFile(into + "/s" + std::to_string(batch[i]))), sha256(sent[i])) << batch[i];
    }
}

// lrzsz's rb has no YModem-G mode: two comm objects run it against each other.
TEST_F(YmodemInterop, YmodemGBetweenTwoObjects)
{
    SocatLine line(m_dir.path());
    ASSERT_TRUE(line.ok());
    QcHandle tx = openObject(line.nearPath(), 35);
    QcHandle rx = openObject(line.farPath(), 36);
    SetProtocol(tx, xfer::Protocol_YModemG);
    SetProtocol(rx, xfer::Protocol_YModemG);
    const std::string into = m_dir.file("g");
    ::mkdir(into.c_str(), 0700);
    SetXferPath(rx, into.c_str());
    std::vector<std::string> sent;
    for (std::size_t size : kSizes) {
        sent.push_back(randomData(size, unsigned(size) + 11));
        const std::string src = m_dir.file("g" + std::to_string(size));
        writeFile(src, sent.back());
        ASSERT_EQ(Upload(tx, src.c_str()), 1);
    }
    ASSERT_EQ(Download(rx, nullptr), 1);
    ASSERT_TRUE(pumpUntil([&] { return GetTransferType(tx) == 0 && GetTransferType(rx) == 0; }, 100000));
    EXPECT_EQ(GetTransferStatus(tx), 0);
    EXPECT_EQ(GetTransferStatus(rx), 0);
    for (std::size_t i = 0; i < kSizes.size(); ++i)
        EXPECT_EQ(sha256(readFile(into + "/g" + std::to_string(kSizes[i]))), sha256(sent[i])) << kSizes[i];
}

}  // namespace
