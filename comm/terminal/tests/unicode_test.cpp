// UTF-8 and the extended rendition as byte scripts (bytes in, screen out),
// and a screen that fits its window: rows leaving into the scroll-back and
// coming back, the scroll-back keeping its text through narrow windows.
#include "temp_dir.h"
#include "terminal.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

using namespace qelcomm::terminal;

namespace {

const std::string E = "\x1b";
const std::string FFFD = "\xEF\xBF\xBD";

struct Term : Terminal {
    Term(int columns, int rows, std::int32_t charset = CharacterSet_Utf8, std::int32_t rendition = Rendition_PC)
    {
        resize(columns, rows);
        setEmulation(Emulation_VT100);
        setCharacterSet(charset);
        setRendition(rendition);
    }
    std::string row(int r) const { return Screen::text(screen().row(r), columns(), utf8()); }
    const Cell& cell(int r, int c) const { return screen().row(r)[c]; }
};

}  // namespace

TEST(Utf8, SequencesWideAndInvalidBytes)
{
    struct Case {
        const char* name;
        std::vector<std::string> chunks;   // separate writes
        std::vector<std::string> rows;     // expected first rows as UTF-8
        int cursorRow, cursorColumn;
        int columns = 10;
        std::int32_t eol = EndOfLineMode_NextLine;
    };
    const std::vector<Case> cases = {
        {"two bytes", {"caf\xC3\xA9!"}, {"caf\xC3\xA9!"}, 0, 5},
        {"three bytes", {"\xE2\x82\xAC" "1"}, {"\xE2\x82\xAC" "1"}, 0, 2},
        {"emoji is wide", {"\xF0\x9F\x98\x80x"}, {"\xF0\x9F\x98\x80x"}, 0, 3},
        {"CJK is wide", {"\xE6\x97\xA5\xE6\x9C\xAC"}, {"\xE6\x97\xA5\xE6\x9C\xAC"}, 0, 4},
        {"split across writes", {"a\xE2", "\x82", "\xAC" "b"}, {"a\xE2\x82\xAC" "b"}, 0, 3},
        {"four bytes in four writes", {"\xF0", "\x9F", "\x98", "\x80"}, {"\xF0\x9F\x98\x80"}, 0, 2},
        {"lone continuation", {"\x80" "a"}, {FFFD + "a"}, 0, 2},
        {"bytes that start nothing", {"\xC0\xC1\xF5\xFF"}, {FFFD + FFFD + FFFD + FFFD}, 0, 4},
        {"truncated is one U+FFFD", {"\xE2\x82" "A"}, {FFFD + "A"}, 0, 2},
        {"truncated at the end of a write, then ASCII", {"\xF0\x9F\x98", "z"}, {FFFD + "z"}, 0, 2},
        {"overlong", {"\xE0\x80\xAF"}, {FFFD + FFFD + FFFD}, 0, 3},
        {"surrogate", {"\xED\xA0\x80"}, {FFFD + FFFD + FFFD}, 0, 3},
        {"above U+10FFFF", {"\xF4\x90\x80\x80"}, {FFFD + FFFD + FFFD + FFFD}, 0, 4},
        {"cut by a sequence", {"\xE2\x82" + E + "[C\xAC"}, {FFFD + " " + FFFD}, 0, 3},
        {"155 continues, it is no CSI", {"\xC4\x9B" "5H"}, {"\xC4\x9B" "5H"}, 0, 3},
        {"C1 controls are left out", {"\xC2\x9B" "x\xC2\x85"}, {"x"}, 0, 1},
        {"combining mark left out", {"e\xCC\x81!"}, {"e!"}, 0, 2},
        {"line drawing as box characters", {E + "(0lqk" + E + "(Bq"}, {"\xE2\x94\x8C\xE2\x94\x80\xE2\x94\x90q"}, 0, 4},
        {"wide at the last column wraps", {"abcd\xE6\x97\xA5"}, {"abcd", "\xE6\x97\xA5"}, 1, 2, 5},
        {"wide at the last column dropped", {"abcd\xE6\x97\xA5"}, {"abcd", ""}, 0, 4, 5, EndOfLineMode_DoNothing},
        {"narrow over the head clears the tail", {"\xE6\x97\xA5" "b\rx"}, {"x b"}, 0, 1},
        {"narrow over the tail clears the head", {"\xE6\x97\xA5" "b" + E + "[1;2Hx"}, {" xb"}, 0, 2},
        {"erase splitting a wide character", {"a\xE6\x97\xA5" "b" + E + "[1;3H" + E + "[1K"}, {"   b"}, 0, 2},
        {"a one-column screen holds half", {"\xE6\x97\xA5"}, {"\xE6\x97\xA5"}, 0, 1, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Term t(c.columns, 3);
        t.setEndOfLineMode(c.eol);
        for (const std::string& chunk : c.chunks)
            t.write(chunk);
        for (std::size_t r = 0; r < c.rows.size(); ++r)
            EXPECT_EQ(t.row(int(r)), c.rows[r]) << "row " << r;
        EXPECT_EQ(t.cursorRow(), c.cursorRow);
        EXPECT_EQ(t.cursorColumn(), c.cursorColumn);
    }
}

TEST(Utf8, TextsCaptureAndSwitchingTheCharacterSet)
{
    testsupport::TempDir dir;
    Term t(8, 2);
    t.setScrollRows(4);
    t.setCaptureMode(Capture_Visible);
    ASSERT_TRUE(t.setCaptureFilename(dir.file("visible.cap")));
    t.write("gr\xC3\xBC\xC3\x9F" "e\r\n\xE6\x97\xA5\xE6\x9C\xAC\r\n\xE2\x94\x80");   // "grüße" scrolls out
    EXPECT_EQ(t.scrollContents(), "gr\xC3\xBC\xC3\x9F" "e\r\n");
    EXPECT_EQ(t.contents(), "\xE6\x97\xA5\xE6\x9C\xAC\r\n\xE2\x94\x80\r\n");
    // Selection counts cells: the two wide characters are four.
    ASSERT_EQ(t.setSelectionStart(0), 0);
    ASSERT_EQ(t.setSelectionLength(4), 0);
    EXPECT_EQ(t.selectionText(), "\xE6\x97\xA5\xE6\x9C\xAC\r\n");
    ASSERT_EQ(t.setSelectionStart(1), 0);   // from a tail: the character is not half-taken
    ASSERT_EQ(t.setSelectionLength(2), 0);
    EXPECT_EQ(t.selectionText(), "\xE6\x9C\xAC\r\n");
    t.setCaptureFilename("");
    std::ifstream in(dir.file("visible.cap"), std::ios::binary);
    std::stringstream captured;
    captured << in.rdbuf();
    EXPECT_EQ(captured.str(), "gr\xC3\xBC\xC3\x9F" "e\r\n\xE6\x97\xA5\xE6\x9C\xAC\r\n\xE2\x94\x80\r\n");

    // The PC set's bytes become the characters they show, and back; what
    // the PC set lacks becomes "?".
    Term pc(8, 1, CharacterSet_CodePage);
    pc.write("\xC4\xB3" "a\x9B");
    EXPECT_EQ(pc.row(0), "\xC4\xB3" "a");   // 155 was a CSI
    pc.setCharacterSet(CharacterSet_Utf8);
    EXPECT_EQ(pc.row(0), "\xE2\x94\x80\xE2\x94\x82" "a");
    pc.write("\xE6\x97\xA5\xC3\xA9");
    pc.setCharacterSet(CharacterSet_CodePage);
    EXPECT_EQ(pc.row(0), "\xC4\xB3" "a? \x82");
    EXPECT_EQ(pc.characterSet(), CharacterSet_CodePage);
    pc.setCharacterSet(7);   // not a character set
    EXPECT_EQ(pc.characterSet(), CharacterSet_CodePage);
}

TEST(Rendition, ExtendedForms)
{
    struct Case {
        std::string seq;           // after ESC "["
        std::uint32_t fg, bg;
        std::uint8_t flags;
        std::uint8_t attr;         // the nearest PC colours
    };
    const std::uint32_t D = ColorKind_Default;
    const std::vector<Case> cases = {
        {"38;5;196m", indexedColor(196), D, 0, 0x04},
        {"38:5:196m", indexedColor(196), D, 0, 0x04},
        {"48;5;21m", D, indexedColor(21), 0, 0x17},
        {"38;2;10;20;200m", rgbColor(10, 20, 200), D, 0, 0x01},
        {"38:2::10:20:200m", rgbColor(10, 20, 200), D, 0, 0x01},
        {"38:2:10:20:200m", rgbColor(10, 20, 200), D, 0, 0x01},
        {"48:2:0:255:255:0m", D, rgbColor(255, 255, 0), 0, 0xE7},   // with a colour space
        {"38;5;196;1m", indexedColor(196), D, Cell_Bold, 0x0C},      // 5 is no blink here
        {"38;2;255;0;0;4m", rgbColor(255, 0, 0), D, Cell_Underline, 0x04},
        {"0;38;2;255;255;255;48;2;0;0;128m", rgbColor(255, 255, 255), rgbColor(0, 0, 128), 0, 0x1F},
        {"91;101m", indexedColor(9), indexedColor(9), 0, 0xCC},
        {"97;44m", indexedColor(15), indexedColor(4), 0, 0x1F},
        {"1;31m", indexedColor(1), D, Cell_Bold, 0x0C},
        {"4m", D, D, Cell_Underline, 0x07},                            // a line, not bright
        {"3;9m", D, D, Cell_Italic | Cell_Strike, 0x07},
        {"7m", D, D, Cell_Inverse, 0x70},
        {"2;5;8m", D, D, Cell_Faint | Cell_Blink | Cell_Hidden, 0x07},
        {"31;1;4;7;22;24;27m", indexedColor(1), D, 0, 0x04},
        {"4m" + E + "[4:0m", D, D, 0, 0x07},
        {"4:3m", D, D, Cell_Underline, 0x07},
        {"31;42m" + E + "[39m", D, indexedColor(2), 0, 0x27},
        {"31;42m" + E + "[49m", indexedColor(1), D, 0, 0x04},
        {"31;3m" + E + "[m", D, D, 0, 0x07},
        {"58;5;1m", D, D, 0, 0x07},                                  // the underline colour: 5 and 1 are its
        {"58:2::1:2:3;9m", D, D, Cell_Strike, 0x07},
        {"38;5m", D, D, 0, 0x07},                                    // cut short
        {"38;5;300m", D, D, 0, 0x07},                                // no such index
        {"38;2;1;2m", D, D, 0, 0x07},
        {"38;7;1m", D, D, Cell_Bold, 0x0F},                          // unknown form: its kind only
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.seq);
        Term t(10, 1, CharacterSet_Utf8, Rendition_Extended);
        t.write(E + "[" + c.seq + "x");
        const Cell& x = t.cell(0, 0);
        EXPECT_EQ(x.ch, U'x');
        EXPECT_EQ(x.fg, c.fg);
        EXPECT_EQ(x.bg, c.bg);
        EXPECT_EQ(x.flags, c.flags);
        EXPECT_EQ(x.attr, c.attr);
        EXPECT_EQ(t.color(), c.attr);
    }
}

TEST(Rendition, PcRenditionKeepsTheClassicReading)
{
    // The same bytes in the PC rendition: 38 and 196 mean nothing, 5 is a
    // bright background, 4 a bright foreground, and long sequences drop.
    Term t(10, 1, CharacterSet_CodePage, Rendition_PC);
    t.setColor(0x07);
    t.write(E + "[38;5;196mx");
    EXPECT_EQ(t.cell(0, 0).attr, 0x87);
    t.write(E + "[0;4my");
    EXPECT_EQ(t.cell(0, 1).attr, 0x0F);
    EXPECT_EQ(t.cell(0, 1).flags, 0);
    t.write(E + "[0;38;2;255;255;255;41mz");
    EXPECT_EQ(t.cell(0, 2).attr, 0x0F);   // dropped: still the colour before
    EXPECT_EQ(t.row(0), "xyz");
}

TEST(Rendition, SwitchingGivesAFreshScreenTheDefaultColours)
{
    Term t(4, 2, CharacterSet_Utf8, Rendition_PC);
    t.setColor(0x1F);
    t.write(E + "[31mr");
    t.setRendition(Rendition_Extended);
    EXPECT_EQ(t.cell(0, 0).fg, ColorKind_Pc);        // written in another colour: kept
    EXPECT_EQ(t.cell(0, 1).fg, ColorKind_Default);   // blank in the current colour
    EXPECT_EQ(t.cell(1, 3).bg, ColorKind_Default);
    EXPECT_EQ(t.cell(1, 3).attr, 0x1F);

    // A colour set from outside still shows in the extended rendition.
    t.setColor(0x1E);
    t.write(E + "[4mu");
    EXPECT_EQ(t.cell(0, 1).fg, ColorKind_Pc);
    EXPECT_EQ(t.cell(0, 1).attr, 0x1E);
    EXPECT_EQ(t.cell(0, 1).flags, Cell_Underline);
    t.setRendition(Rendition_PC);
    t.write(E + "[4mv");
    EXPECT_EQ(t.cell(0, 2).flags, 0);
    EXPECT_EQ(t.cell(0, 2).attr, 0x1E);
}

TEST(Fit, RowsLeaveIntoTheScrollBackAndComeBack)
{
    Term t(10, 4);
    t.setScrollRows(10);
    t.write("A\r\nB\r\nC\r\nD\r\nE\r\nF");   // A and B scrolled out
    EXPECT_EQ(t.scrollContents(), "A\r\nB\r\n");
    t.setSelection({3, 0}, {3, 1});          // "F"

    ASSERT_TRUE(t.fit(10, 2));
    EXPECT_EQ(t.contents(), "E\r\nF\r\n");   // the cursor's row stays
    EXPECT_EQ(t.scrollContents(), "A\r\nB\r\nC\r\nD\r\n");
    EXPECT_EQ(t.cursorRow(), 1);
    EXPECT_EQ(t.cursorColumn(), 1);
    EXPECT_EQ(t.selectionText(), "F\r\n");

    ASSERT_TRUE(t.fit(10, 5));
    EXPECT_EQ(t.contents(), "B\r\nC\r\nD\r\nE\r\nF\r\n");
    EXPECT_EQ(t.scrollContents(), "A\r\n");
    EXPECT_EQ(t.cursorRow(), 4);
    EXPECT_EQ(t.selectionText(), "F\r\n");
    t.write("G");
    EXPECT_EQ(t.row(4), "FG");

    // More rows than the scroll-back holds: blank rows below.
    ASSERT_TRUE(t.fit(10, 8));
    EXPECT_EQ(t.contents(), "A\r\nB\r\nC\r\nD\r\nE\r\nFG\r\n\r\n\r\n");
    EXPECT_EQ(t.scrollContents(), "");
    EXPECT_EQ(t.cursorRow(), 5);
    EXPECT_FALSE(t.fit(0, 8));
    EXPECT_FALSE(t.fit(300, 300));

    // A cursor near the top: the rows below it go.
    Term top(10, 4);
    top.setScrollRows(5);
    top.write("x\r\ny" + E + "[1;1H");
    ASSERT_TRUE(top.fit(10, 1));
    EXPECT_EQ(top.contents(), "x\r\n");
    EXPECT_EQ(top.scrollContents(), "");
}

TEST(Fit, TheScrollBackKeepsItsTextThroughANarrowWindow)
{
    Term t(20, 2);
    t.setScrollRows(5);
    t.write("0123456789ABCDEFGHIJ\r\nnext\r\nlast");
    ASSERT_EQ(t.scrollContents(), "0123456789ABCDEFGHIJ\r\n");
    ASSERT_TRUE(t.fit(8, 2));
    EXPECT_EQ(t.scrollContents(), "01234567\r\n");
    t.write("\r\nmore");                     // "next" leaves at the narrow width
    ASSERT_TRUE(t.fit(20, 2));
    EXPECT_EQ(t.scrollContents(), "0123456789ABCDEFGHIJ\r\nnext\r\n");
    // The fixed-size members keep the store too.
    ASSERT_TRUE(t.setColumns(4));
    ASSERT_TRUE(t.setColumns(20));
    EXPECT_EQ(t.scrollContents(), "0123456789ABCDEFGHIJ\r\nnext\r\n");

    // A row that comes back onto a wider screen goes on in its colours.
    Term coloured(4, 2, CharacterSet_Utf8, Rendition_Extended);
    coloured.setScrollRows(3);
    coloured.write(E + "[44mabcd" + E + "[0m\r\n\r\nx");
    ASSERT_TRUE(coloured.fit(8, 3));
    EXPECT_EQ(coloured.row(0), "abcd");
    EXPECT_EQ(coloured.cell(0, 6).bg, indexedColor(4));
    EXPECT_EQ(coloured.cell(1, 6).bg, ColorKind_Default);

    // A wide character whose tail is cut off goes whole.
    Term wide(4, 1);
    wide.write("ab\xE6\x97\xA5");
    ASSERT_TRUE(wide.fit(3, 1));
    EXPECT_EQ(wide.row(0), "ab");
}
