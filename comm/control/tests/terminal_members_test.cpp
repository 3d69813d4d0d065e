// The terminal members of the control reach the object's terminal: the
// defaults are in force, writes change the screen model, and the screen a
// far end draws is what Contents gives.
#include "control_fixture.h"
#include "qelcomm_terminal.h"
#include "temp_dir.h"

#include <fstream>
#include <sstream>

namespace controltest {
namespace {

using lt::automation::Variant;
namespace M = MemberId;

class TerminalMembersTest : public ControlTest {
protected:
    Variant get(std::int32_t id)
    {
        Variant v;
        EXPECT_FALSE(m_control->Dispatch().get(id, v).failed()) << id;
        return v;
    }
    void put(std::int32_t id, const Variant& v) { EXPECT_FALSE(m_control->Dispatch().put(id, v).failed()) << id; }
    QcHandle object() const { return m_control->Window(); }
};

TEST_F(TerminalMembersTest, DefaultsAreInTheTerminal)
{
    EXPECT_EQ(GetEmulation(object()), 4);
    EXPECT_EQ(GetColor(object()), 0x1F);
    EXPECT_EQ(GetBackspace(object()), 0);
    EXPECT_EQ(GetAutoScroll(object()), 4);
    EXPECT_EQ(*get(M::ForeColor).toInt32(), 15);
    EXPECT_EQ(*get(M::BackColor).toInt32(), 1);
    std::string blank;
    for (int i = 0; i < 25; ++i)
        blank += "\r\n";
    EXPECT_EQ(get(M::Contents).toString(), blank);
}

TEST_F(TerminalMembersTest, WritesDriveTheScreen)
{
    put(M::Columns, Variant(std::int32_t(20)));
    put(M::Rows, Variant(std::int32_t(3)));
    put(M::ForeColor, Variant(std::int32_t(14)));
    EXPECT_EQ(GetColor(object()), 0x1E);
    put(M::DisplayLine, Variant("first"));
    put(M::Display, Variant("\x1b[1;31mred"));
    EXPECT_EQ(get(M::Contents).toString(), "first\r\nred\r\n\r\n");
    EXPECT_EQ(*get(M::CursorRow).toInt32(), 1);
    EXPECT_EQ(*get(M::CursorColumn).toInt32(), 3);
    put(M::SelStart, Variant(std::int32_t(1)));
    put(M::SelLength, Variant(std::int32_t(3)));
    EXPECT_EQ(get(M::SelText).toString(), "irs\r\n");

    put(M::ScrollRows, Variant(std::int32_t(5)));
    put(M::Contents, Variant("new"));
    EXPECT_EQ(get(M::Contents).toString(), "new\r\n\r\n\r\n");
    EXPECT_EQ(get(M::ScrollContents).toString(), "first\r\nred\r\n\r\n");

    put(M::AutoScroll, Variant::fromBool(false));
    EXPECT_EQ(GetAutoScroll(object()), 0);
    put(M::AutoScroll, Variant::fromBool(true));
    put(M::AutoScrollColumn, Variant::fromBool(true));
    EXPECT_EQ(GetAutoScroll(object()), 3);

    put(M::Emulation, Variant(std::int32_t(1)));
    put(M::Display, Variant("\x1b[H"));
    EXPECT_EQ(get(M::Contents).toString().substr(0, 6), "new\x1b[H");
}

TEST_F(TerminalMembersTest, CaptureFileAndTheApplyStep)
{
    testsupport::TempDir dir;
    const std::string file = dir.file("capture.txt");
    put(M::CaptureMode, Variant(std::int32_t(1)));
    put(M::CaptureFilename, Variant(file));
    put(M::Display, Variant("raw\x1b[m"));
    EXPECT_EQ(get(M::CaptureFilename).toString(), file);

    // A new object (in-place activation) gets the stored terminal values.
    put(M::Columns, Variant(std::int32_t(40)));
    const win::Hwnd container = CreateCommObject(0);
    ASSERT_TRUE(m_control->InPlaceActivate(container));
    EXPECT_EQ(GetColumns(object()), 40);
    EXPECT_EQ(GetCaptureMode(object()), 1);
    put(M::Display, Variant("more"));
    put(M::CaptureFilename, Variant(""));
    std::ifstream in(file, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    EXPECT_EQ(s.str(), "raw\x1b[mmore");
    DestroyCommObject(container);
}

TEST_F(TerminalMembersTest, FarEndDrawsTheScreen)
{
    openOnPty();
    put(M::InputEcho, Variant::fromBool(true));
    m_pty->send("\x1b[2J\x1b[2;3Hdrawn\x1b[6n");
    std::string got;
    ASSERT_TRUE(pumpUntil([&] {
        std::string part;
        m_control->Input(part);
        got += part;
        return got.size() >= 19;
    }, 5000));
    EXPECT_EQ(get(M::Contents).toString().substr(0, 11), "\r\n  drawn\r\n");
    EXPECT_EQ(m_pty->receive(6, 3000), "\x1b[2;8R");
}

}  // namespace
}  // namespace controltest
