// The trace through real files: property, event, read and write lines of a
// control, the switches' combinations, and entries from two threads.
#include "control_fixture.h"

#include "comm_spy.h"
#include "temp_dir.h"

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

namespace controltest {
namespace {

using lt::automation::PropertyBag;
using lt::automation::Variant;
namespace M = MemberId;

class SpyTest : public ControlTest {
protected:
    void SetUp() override
    {
        // The log's folder is fixed at the first entry of the process; each
        // test runs in a process of its own.
        setenv("XDG_STATE_HOME", m_state.path().c_str(), 1);
        ControlTest::SetUp();
    }

    std::string log() const
    {
        std::ifstream f(m_state.file("qelcomm6/commspy.txt"), std::ios::binary);
        std::stringstream all;
        all << f.rdbuf();
        return all.str();
    }

    void name(const std::string& n)
    {
        m_control->SetAmbientDisplayName(n);
        m_control->ApplyProperties();
    }

    Variant get(std::int32_t id)
    {
        Variant v;
        m_control->Dispatch().get(id, v);
        return v;
    }
    void put(std::int32_t id, const Variant& v) { m_control->Dispatch().put(id, v); }

    testsupport::TempDir m_state;
};

TEST_F(SpyTest, PropertyLines)
{
    openOnPty();
    name("Comm1");
    m_control->SetCommSpy(true);
    m_control->SetCommSpyProperties(true);

    get(M::CommPort);
    get(M::RTSEnable);
    get(M::Settings);
    put(M::RThreshold, std::int32_t(1));
    put(M::RTSEnable, Variant::fromBool(true));
    put(M::Settings, "19200,n,8,1");
    get(M::CommSpy);
    put(M::Output, "OK");
    put(M::Output, "");
    put(M::CommSpyProperties, Variant::fromBool(false));   // the switch's own write is no longer traced
    get(M::CommPort);

    EXPECT_EQ(log(),
              "Comm1.CommPort returns 7\r\n"
              "Comm1.RTSEnable returns False\r\n"
              "Comm1.Settings returns \"9600,n,8,1\"\r\n"
              "Comm1.RThreshold = 1\r\n"
              "Comm1.RTSEnable = True\r\n"
              "Comm1.Settings = \"19200,n,8,1\"\r\n"
              "Comm1.CommSpy returns True\r\n"
              "Comm1.Output = \"OK\"\r\n"
              "Comm1.Output = \"\"\r\n");
    EXPECT_EQ(m_pty->receive(2, 2000), "OK");
}

// Writes that do nothing leave no line, and the second names of Input,
// LineInput and CommHandle are traced under the first.
TEST_F(SpyTest, WritesThatDoNothingAndSecondNames)
{
    name("Comm1");
    m_control->SetCommSpy(true);
    m_control->SetCommSpyProperties(true);
    m_control->SetAutoProcess(0);
    put(M::Output, "closed");           // the port is closed: nothing written, no line
    put(M::OutputLine, "closed");
    put(M::OutTimeOut, std::int32_t(-1));  // ignored, no line
    put(M::OutTimeOut, std::int32_t(250));
    get(M::CommID);
    put(M::CommID, std::int32_t(-1));     // no device: stays detached
    openOnPty();
    m_pty->send("ab\rcd\r");
    ASSERT_TRUE(pumpUntil([&] { return m_control->InBufferCount() == 6; }, 3000));
    put(M::InputLen, std::int32_t(3));
    get(M::ComInput);
    get(M::ComLineInput);
    // While Input waits, an event handler's Output is refused: it writes
    // and traces nothing.
    put(M::RThreshold, std::int32_t(1));
    put(M::InTimeOut, std::int32_t(300));
    int refused = 0;
    m_sink.during = [&](std::int32_t) {
        refused += m_control->Dispatch().put(M::Output, Variant("inside")).failed() ? 1 : 0;
    };
    m_pty->send("z");
    get(M::Input);
    m_sink.during = nullptr;
    EXPECT_GT(refused, 0);
    put(M::Output, "OK");
    EXPECT_EQ(log(),
              "Comm1.OutTimeOut = 250\r\n"
              "Comm1.CommHandle returns -1\r\n"
              "Comm1.CommHandle = -1\r\n"
              "Comm1.InputLen = 3\r\n"
              "Comm1.Input returns \"ab\" + Chr(13)\r\n"
              "Comm1.LineInput returns \"cd\"\r\n"
              "Comm1.RThreshold = 1\r\n"
              "Comm1.InTimeOut = 300\r\n"
              "Comm1.Input returns \"z\"\r\n"
              "Comm1.Output = \"OK\"\r\n");
    EXPECT_EQ(m_pty->receive(2, 2000), "OK");
}

TEST_F(SpyTest, SwitchCombinations)
{
    openOnPty();
    name("Comm1");

    // Properties need both switches, run mode, and no load under way.
    m_control->SetCommSpy(true);
    get(M::CommPort);
    m_control->SetCommSpy(false);
    m_control->SetCommSpyProperties(true);
    get(M::CommPort);
    m_control->SetCommSpy(true);
    m_control->SetAmbientUserMode(false);
    get(M::CommPort);
    m_control->SetAmbientUserMode(true);
    PropertyBag bag;
    m_control->Save(bag);
    bag.write("RThreshold", Variant(std::int32_t(4)));
    m_control->Load(bag);
    EXPECT_EQ(log(), "");

    // Reads and writes on the port follow their own switches alone.
    m_control->SetCommSpy(false);
    m_control->SetCommSpyInput(true);
    m_pty->send("hi\r");
    ASSERT_TRUE(pumpUntil([&] { return m_control->InBufferCount() == 3; }, 3000));
    std::string in;
    m_control->LineInput(in);
    m_control->Output("x");   // output switch off
    m_control->SetCommSpyInput(false);
    m_control->SetCommSpyOutput(true);
    m_control->Output("\x1b[2J");
    EXPECT_EQ(log(),
              "Comm1 reads 1 bytes: \"h\"\r\n"
              "Comm1 reads 1 bytes: \"i\"\r\n"
              "Comm1 reads 1 bytes: Chr(13)\r\n"
              "Comm1 writes 4 bytes: Chr(27) + \"[2J\"\r\n");
}

TEST_F(SpyTest, SwitchesTravelWithTheStream)
{
    // A loaded control hands its input and output switches to its object.
    m_control->SetCommSpyOutput(true);
    lt::automation::ByteStream saved;
    m_control->Save(saved);
    m_owned.reset();

    CQelComm loaded;
    loaded.SetAmbientDisplayName("Comm1");
    lt::automation::ByteStream in(saved.bytes());
    loaded.Load(in);
    m_pty = std::make_unique<testsupport::PtyPair>();
    m_ports = std::make_unique<testsupport::PortsMap>();
    m_ports->map(7, m_pty->slavePath());
    loaded.SetCommPort(7);
    loaded.SetPortOpen(true);
    loaded.Output("AB");
    EXPECT_EQ(log(), "Comm1 writes 2 bytes: \"AB\"\r\n");
}

TEST_F(SpyTest, EventLinesOnTheCallbackRoad)
{
    openOnPty();
    m_control->SetRThreshold(1);
    m_control->SetCommSpy(true);
    m_control->SetCommSpyEvents(true);

    name("Comm1");
    m_pty->send("x");
    ASSERT_TRUE(pumpUntil([&] { return m_control->InBufferCount() == 1; }, 3000));
    tick(*m_control);
    m_control->SetInBufferCount(0);

    name("Comm1(2)");
    m_pty->send("y");
    ASSERT_TRUE(pumpUntil([&] { return m_control->InBufferCount() == 1; }, 3000));
    tick(*m_control);

    ASSERT_FALSE(m_sink.seen.empty());
    EXPECT_EQ(log(),
              "Comm1_Receive() Event\r\n"
              "Comm1_Receive(2) Event\r\n");
}

TEST_F(SpyTest, LongReadWrapsWithContinuations)
{
    openOnPty();
    name("Comm1");
    m_control->SetCommSpyInput(true);
    std::string data;
    for (int i = 0; i < 100; ++i)
        data += char('A' + i % 26);
    m_pty->send(data);
    ASSERT_TRUE(pumpUntil([&] { return m_control->InBufferCount() == 100; }, 3000));
    // Automatic receive takes the block in one read.
    m_control->SetAutoProcess(1);
    tick(*m_control);
    ASSERT_EQ(m_control->InBufferCount(), 0);

    const std::string indent(10, ' ');
    EXPECT_EQ(log(), "Comm1 reads 100 bytes: \"" + data.substr(0, 32) + "\" + _\r\n" + indent + "\"" +
                         data.substr(32, 32) + "\" + _\r\n" + indent + "\"" + data.substr(64, 32) + "\" + _\r\n" +
                         indent + "\"" + data.substr(96) + "\"\r\n");
}

TEST_F(SpyTest, EntriesFromTwoThreadsNeverInterleave)
{
    const QcHandle o = m_control->Window();
    const std::string a(200, 'a'), b(200, 'b');
    auto writer = [o](const std::string& text) {
        for (int i = 0; i < 200; ++i)
            CommSpyMsg(o, qelcomm::CommSpy_Data, "T ", text);
    };
    std::thread t1(writer, a), t2(writer, b);
    t1.join();
    t2.join();

    const std::string entryA = qelcomm::formatCommSpyEntry("T ", reinterpret_cast<const std::uint8_t*>(a.data()), 200);
    const std::string entryB = qelcomm::formatCommSpyEntry("T ", reinterpret_cast<const std::uint8_t*>(b.data()), 200);
    const std::string all = log();
    std::size_t pos = 0, entries = 0;
    while (pos < all.size()) {
        if (all.compare(pos, entryA.size(), entryA) == 0)
            pos += entryA.size();
        else if (all.compare(pos, entryB.size(), entryB) == 0)
            pos += entryB.size();
        else
            FAIL() << "broken entry at " << pos;
        ++entries;
    }
    EXPECT_GT(entries, 0u);
    EXPECT_LE(entries, 400u);
}

}  // namespace
}  // namespace controltest
