// The engine with a scripted far end on a pseudo-terminal: names a hostile
// sender proposes, cancelling, events on the object's thread, destroying
// the object mid-transfer.
#include "line_fixture.h"
#include "transfer_engine.h"
#include "xmodem_frame.h"
#include "xymodem.h"

#include <sys/stat.h>

#include <thread>

using namespace xfertest;
using namespace xfer;

namespace {

std::thread::id g_mainThread;
std::vector<std::thread::id> g_eventThreads;
std::function<void(QcHandle)> g_onTransfer;

void onEvent(QcHandle object, int, int code)
{
    if (code != 100)
        return;
    g_eventThreads.push_back(std::this_thread::get_id());
    if (g_onTransfer)
        g_onTransfer(object);
}

// The far end of a YModem batch, played block by block.
void farSendYmodem(testsupport::PtyPair& pty, const std::vector<std::pair<std::string, std::string>>& files)
{
    auto expect = [&](std::uint8_t byte) { return pty.receive(1, 8000) == std::string(1, char(byte)); };
    auto sendBlock = [&](std::uint8_t number, std::vector<std::uint8_t> data) {
        const auto frame = frameBlock(number, data.data(), data.size(), true);
        pty.send(std::string(frame.begin(), frame.end()));
        return expect(ACK);
    };
    for (const auto& [name, contents] : files) {
        std::vector<std::uint8_t> header(128, 0);
        const std::string text = name + '\0' + std::to_string(contents.size());
        std::copy(text.begin(), text.end(), header.begin());
        if (!expect('C') || !sendBlock(0, header) || !expect('C'))
            return;
        std::vector<std::uint8_t> data(128, SUB);
        std::copy(contents.begin(), contents.end(), data.begin());
        if (!sendBlock(1, data))
            return;
        pty.send(std::string(1, char(EOT)));
        if (!expect(ACK))
            return;
    }
    if (expect('C'))
        sendBlock(0, std::vector<std::uint8_t>(128, 0));
}

class EngineTest : public TransferTest {
protected:
    void SetUp() override
    {
        g_mainThread = std::this_thread::get_id();
        g_eventThreads.clear();
        g_onTransfer = nullptr;
    }
    QcHandle open(testsupport::PtyPair& pty, int com)
    {
        QcHandle o = openObject(pty.slavePath(), com);
        SetEventHandler(o, onEvent);
        return o;
    }
};

TEST_F(EngineTest, HostileNamesStayInTheFolderAndKeepExistingFiles)
{
    testsupport::PtyPair pty;
    QcHandle o = open(pty, 41);
    const std::string into = m_dir.file("in");
    ::mkdir(into.c_str(), 0700);
    writeFile(into + "/keep.txt", "original");
    SetProtocol(o, Protocol_YModem);
    SetXferPath(o, into.c_str());
    ASSERT_EQ(Download(o, nullptr), 1);
    std::thread far(farSendYmodem, std::ref(pty),
                    std::vector<std::pair<std::string, std::string>>{
                        {"../../x", "one"}, {"/etc/x", "two"}, {"a\\..\\..", "three"}, {"keep.txt", "four"}});
    ASSERT_TRUE(waitForEnd(o, 60000));
    far.join();
    EXPECT_EQ(GetTransferStatus(o), 0);
    EXPECT_EQ(readFile(into + "/x"), "one");
    EXPECT_EQ(readFile(into + "/x.1"), "two");
    EXPECT_EQ(readFile(into + "/UNTITLED.000"), "three");
    EXPECT_EQ(readFile(into + "/keep.txt"), "original");
    EXPECT_EQ(readFile(into + "/keep.txt.1"), "four");
    struct stat st;
    EXPECT_NE(::stat(m_dir.file("x").c_str(), &st), 0);
    // Every transfer event reached the container on the object's thread.
    ASSERT_FALSE(g_eventThreads.empty());
    for (auto id : g_eventThreads)
        EXPECT_EQ(id, g_mainThread);
}

TEST_F(EngineTest, PrepareHandlerChoosesTheName)
{
    testsupport::PtyPair pty;
    QcHandle o = open(pty, 42);
    SetProtocol(o, Protocol_YModem);
    SetXferPath(o, m_dir.path().c_str());
    g_onTransfer = [](QcHandle object) {
        char name[300] = {};
        GetDestFilename(object, name, sizeof name);
        if (GetTransferStatus(object) == Status_Prepare && std::string(name).find("chosen") == std::string::npos)
            SetDestFilename(object, "chosen.bin");
    };
    ASSERT_EQ(Download(o, nullptr), 1);
    std::thread far(farSendYmodem, std::ref(pty), std::vector<std::pair<std::string, std::string>>{{"far.bin", "data"}});
    ASSERT_TRUE(waitForEnd(o, 60000));
    far.join();
    EXPECT_EQ(GetTransferStatus(o), 0);
    EXPECT_EQ(readFile(m_dir.file("chosen.bin")), "data");
}

TEST_F(EngineTest, AbortSendsCancelRestoresLineAndFails)
{
    testsupport::PtyPair pty;
    QcHandle o = open(pty, 43);
    SetHandshaking(o, 1);  // XON/XOFF, switched off while the transfer runs
    ASSERT_TRUE(pty.line().xonXoff);
    const std::string src = m_dir.file("s");
    writeFile(src, "payload");
    SetProtocol(o, Protocol_XModemCrc);
    ASSERT_EQ(Upload(o, src.c_str()), 1);
    ASSERT_EQ(Download(o, "x"), 0);  // the other direction is refused while sending
    ASSERT_TRUE(pumpUntil([&] { return !pty.line().xonXoff; }, 5000));
    AbortTransfer(o);
    ASSERT_TRUE(waitForEnd(o, 20000));
    EXPECT_EQ(GetTransferStatus(o), Status_Failure);
    EXPECT_EQ(pty.receive(20, 3000), std::string(10, char(CAN)) + std::string(10, char(BS)));
    EXPECT_TRUE(pty.line().xonXoff);
}

// A receive that fails before a byte of the file arrived leaves no empty
// file behind; a file that was there before is left alone.
TEST_F(EngineTest, FailedReceiveRemovesTheEmptyFileItCreated)
{
    testsupport::PtyPair pty;
    QcHandle o = open(pty, 46);
    SetProtocol(o, Protocol_XModemCrc);
    SetXferPath(o, m_dir.path().c_str());
    struct stat st;
    const std::string made = m_dir.file("made.bin");
    ASSERT_EQ(Download(o, "made.bin"), 1);
    ASSERT_TRUE(pumpUntil([&] { return ::stat(made.c_str(), &st) == 0; }, 5000));
    AbortTransfer(o);
    ASSERT_TRUE(waitForEnd(o, 20000));
    EXPECT_EQ(GetTransferStatus(o), Status_Failure);
    EXPECT_NE(::stat(made.c_str(), &st), 0);

    const std::string there = m_dir.file("there.bin");
    writeFile(there, "");
    ASSERT_EQ(Download(o, "there.bin"), 1);
    ASSERT_TRUE(pumpUntil([&] { return pty.receive(1, 100) == "C"; }, 5000));
    AbortTransfer(o);
    ASSERT_TRUE(waitForEnd(o, 20000));
    EXPECT_EQ(::stat(there.c_str(), &st), 0);
}

TEST_F(EngineTest, DestroyingTheObjectEndsTheThread)
{
    testsupport::PtyPair pty;
    QcHandle o = open(pty, 44);
    const std::string src = m_dir.file("s");
    writeFile(src, "payload");
    ASSERT_EQ(Upload(o, src.c_str()), 1);
    pumpUntil([] { return false; }, 300);
    DestroyCommObject(o);
    m_objects.clear();
    // The thread notices at its next report; nothing may touch the object.
    pumpUntil([] { return false; }, 2500);
    EXPECT_EQ(GetTransferType(o), 0);
}

}  // namespace
