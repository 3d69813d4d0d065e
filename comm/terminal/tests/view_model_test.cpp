// Screen text, selection, capture files, colour filters and the view's
// following of the cursor.
#include "color_filter.h"
#include "keys.h"
#include "temp_dir.h"
#include "terminal.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

using namespace qelcomm::terminal;

namespace {

struct Term : Terminal {
    Term(int columns, int rows, std::int32_t emulation = Emulation_VT100)
    {
        resize(columns, rows);
        setEmulation(emulation);
    }
};

std::string slurp(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

}  // namespace

TEST(Contents, RowsTrimmedAndLimitedBySize)
{
    Term t(20, 3);
    EXPECT_EQ(t.contents(), "\r\n\r\n\r\n");  // rows x 2 bytes
    t.write("hello world!  \r\nx");
    EXPECT_EQ(t.contents(), "hello world!\r\nx\r\n\r\n");
    EXPECT_EQ(t.contents(10), "");   // 12 characters do not fit 10
    EXPECT_EQ(t.contents(14), "");   // the row and its CR LF would reach the size
    EXPECT_EQ(t.contents(15), "hello world!\r\n");
    t.setContents(reinterpret_cast<const std::uint8_t*>("new"), 3);
    EXPECT_EQ(t.contents(), "new\r\n\r\n\r\n");
}

TEST(Contents, ScrollRowsKeepsContentsOnlyWhenUnchanged)
{
    Term t(10, 2, Emulation_TTY);
    EXPECT_EQ(t.setScrollRows(4), 0);
    t.write("a\r\nb\r\nc");
    EXPECT_EQ(t.scrollContents(), "a\r\n");
    EXPECT_EQ(t.setScrollRows(4), 0);
    EXPECT_EQ(t.scrollContents(), "a\r\n");
    EXPECT_EQ(t.setScrollRows(5), 0);
    EXPECT_EQ(t.scrollContents(), "");
    EXPECT_EQ(t.scrollRows(), 5);
    EXPECT_EQ(t.setScrollRows(-1), -1);
    EXPECT_EQ(t.scrollRows(), 5);
}

TEST(Contents, ResizeKeepsOverlapAndRefusesBadSizes)
{
    Term t(10, 3);
    t.write("abcdefghij\r\nklm\r\nnop");
    EXPECT_TRUE(t.resize(4, 2));
    EXPECT_EQ(t.contents(), "abcd\r\nklm\r\n");
    EXPECT_EQ(t.cursorRow(), 1);
    EXPECT_EQ(t.cursorColumn(), 3);
    EXPECT_FALSE(t.setColumns(0));
    EXPECT_FALSE(t.resize(255, 257));   // 65535 cells
    EXPECT_TRUE(t.resize(255, 256));
    EXPECT_EQ(t.columns(), 255);
}

TEST(Selection, PositionsLengthsAndText)
{
    Term t(10, 3);
    t.write("0123456789abcdefghij" "ABCDE");
    EXPECT_EQ(t.setSelectionStart(30), 0);   // the very end is accepted
    EXPECT_EQ(t.setSelectionStart(31), -1);
    EXPECT_EQ(t.setSelectionStart(-1), -1);

    ASSERT_EQ(t.setSelectionStart(3), 0);
    EXPECT_EQ(t.setSelectionLength(4), 0);
    EXPECT_EQ(t.selectionLength(), 4);
    EXPECT_EQ(t.selectionText(), "3456\r\n");

    EXPECT_EQ(t.setSelectionLength(14), 0);  // into the next row
    EXPECT_EQ(t.selectionStart(), 3);
    EXPECT_EQ(t.selectionLength(), 14);
    EXPECT_EQ(t.selectionText(), "3456789\r\nabcdefg\r\n");
    EXPECT_EQ(t.selectionText(10), "3456789\r\n");   // the second row does not fit

    EXPECT_EQ(t.setSelectionLength(-3), 0);  // ignored
    EXPECT_EQ(t.selectionLength(), 14);
    EXPECT_EQ(t.setSelectionLength(27), 0);  // up to the end of the screen
    EXPECT_EQ(t.setSelectionLength(28), -1);
    EXPECT_EQ(t.selectionText(), "3456789\r\nabcdefghij\r\nABCDE\r\n");
}

TEST(Selection, MouseOrderAndScrollBack)
{
    Term t(10, 2, Emulation_TTY);
    t.setScrollRows(2);
    t.write("first\r\nsecond");
    t.setSelection({1, 3}, {0, 1});          // dragged backwards
    EXPECT_EQ(t.selectionAnchor().row, 0);
    EXPECT_EQ(t.selectionAnchor().column, 1);
    EXPECT_EQ(t.selectionText(), "irst\r\nsec\r\n");
    t.write("\r\nthird");                     // the text moves up, so does the selection
    EXPECT_EQ(t.selectionAnchor().row, -1);
    EXPECT_EQ(t.selectionText(), "irst\r\nsec\r\n");
    t.write("\r\n4\r\n5\r\n6");               // never above the oldest row
    EXPECT_EQ(t.selectionAnchor().row, -2);
}

TEST(Capture, ThreeModesAppendToRealFiles)
{
    testsupport::TempDir dir;
    const std::string standard = dir.file("standard.cap");
    {
        std::ofstream(standard) << "old\n";
    }
    Term t(10, 2);
    ASSERT_TRUE(t.setCaptureFilename(standard));
    t.write("ab" "\x1b[1;31m" "c\r\n");
    t.setCaptureMode(Capture_Binary);
    t.write("\x1b[Hx");
    t.setCaptureMode(Capture_Visible);
    t.write("\r\n\r\nlast");                  // "xbc" leaves the screen
    EXPECT_TRUE(t.setCaptureFilename(""));    // closing writes the screen
    EXPECT_EQ(slurp(standard), "old\nabc\r\n\x1b[Hx" "xbc\r\n\r\nlast\r\n");

    const std::string created = dir.file("new.cap");
    EXPECT_TRUE(t.setCaptureFilename(created));
    EXPECT_TRUE(t.capturing());
    EXPECT_FALSE(t.setCaptureFilename(dir.file("missing/folder.cap")));
    EXPECT_FALSE(t.capturing());
    EXPECT_EQ(slurp(created), "\r\nlast\r\n");
}

TEST(Capture, VisibleRowsReachTheFileWithoutScrollBack)
{
    testsupport::TempDir dir;
    Term t(10, 2, Emulation_TTY);
    t.setCaptureMode(Capture_Visible);
    ASSERT_TRUE(t.setCaptureFilename(dir.file("v.cap")));
    t.write("one  \r\ntwo\r\nthree\f");
    t.setCaptureFilename("");
    EXPECT_EQ(slurp(dir.file("v.cap")), "one\r\ntwo\r\nthree\r\n\r\n\r\n");
}

TEST(ColorFilters, Table)
{
    struct Case { int filter, in, out; };
    const Case cases[] = {
        {ColorFilter_Full, 0x1C, 0x1C},
        {ColorFilter_BW, 0x0B, 0x0F}, {ColorFilter_BW, 0x71, 0xF0}, {ColorFilter_BW, 0x00, 0x00},
        {ColorFilter_BW, 0x44, 0xFF}, {ColorFilter_BW, 0x18, 0xF0},
        {ColorFilter_Gray, 0x00, 0x00}, {ColorFilter_Gray, 0x22, 0x77}, {ColorFilter_Gray, 0xAA, 0xFF},
        {ColorFilter_Gray, 0x0C, 0x0F}, {ColorFilter_Gray, 0x1C, 0x7F}, {ColorFilter_Gray, 0x04, 0x07},
        {ColorFilter_Gray, 0x14, 0x70},
    };
    for (const auto& c : cases)
        EXPECT_EQ(filterAttribute(std::uint8_t(c.in), c.filter), c.out) << c.filter << " " << c.in;
}

TEST(Keys, Table)
{
    EXPECT_EQ(keyAction(Key::Left, false, Emulation_VT100, true).bytes, "\x1b[D");
    EXPECT_EQ(keyAction(Key::Down, false, Emulation_Ansi, true).bytes, "\x1b[B");
    EXPECT_EQ(keyAction(Key::F4, false, Emulation_VT52, true).bytes, "\x1bOS");
    EXPECT_EQ(keyAction(Key::Home, true, Emulation_VT100, true).bytes, "\x1b[2J");
    EXPECT_EQ(keyAction(Key::Home, true, Emulation_VT52, true).kind, KeyAction::Nothing);
    EXPECT_EQ(keyAction(Key::Keypad3, false, Emulation_VT100, false).bytes, "\x1b?s");
    EXPECT_EQ(keyAction(Key::Keypad3, false, Emulation_VT100, true).bytes, "3");
    EXPECT_EQ(keyAction(Key::Up, false, Emulation_TTY, true).kind, KeyAction::Nothing);
    EXPECT_EQ(keyAction(Key::Backspace, false, Emulation_TTY, true).bytes, "\b");
    EXPECT_EQ(keyAction(Key::PageUp, false, Emulation_VT100, true).kind, KeyAction::ScrollPageUp);
}

TEST(View, FollowsTheCursorAsAutoScrollAsks)
{
    Term t(80, 25);
    t.setScrollRows(100);
    t.setViewExtent(40, 10);
    t.write("\x1b[20;70H");
    EXPECT_EQ(t.viewTop(), 10);     // 4: rows follow output
    EXPECT_EQ(t.viewLeft(), 0);     // columns only after keys
    t.followCursor(true);
    EXPECT_EQ(t.viewLeft(), 30);
    t.setAutoScroll(0);
    t.setViewOrigin(-50, 0);
    t.write("x");
    EXPECT_EQ(t.viewTop(), -50);
    t.followCursor(false, true);    // Escape back to the screen
    EXPECT_EQ(t.viewTop(), 10);
    t.setViewOrigin(-500, 500);
    EXPECT_EQ(t.viewTop(), -100);
    EXPECT_EQ(t.viewLeft(), 40);
}

TEST(View, DirtyRowsAndRepaintBatching)
{
    Term t(80, 25);
    int posted = 0, now = 0;
    t.host.postRepaint = [&] { ++posted; };
    t.host.repaintNow = [&] { ++now; };
    int first, last;
    t.takeDirty(&first, &last);  // the fresh screen
    t.write("a");
    t.write("\r\nb");
    EXPECT_EQ(posted, 1);
    EXPECT_EQ(now, 0);
    EXPECT_EQ(t.dirtyFirst(), 0);
    EXPECT_EQ(t.dirtyLast(), 1);
    t.takeDirty(&first, &last);
    t.write("\x1b[10;1Hx\x1b[2;1Hy");
    EXPECT_EQ(posted, 2);
    EXPECT_EQ(now, 1);   // more than five rows
}
