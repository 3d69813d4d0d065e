// Byte scripts through each interpreter: input chunks in, screen rows,
// attributes, cursor and answers out. No port.
#include "terminal.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace qelcomm::terminal;

namespace {

struct Script {
    const char* name;
    std::int32_t emulation;
    std::vector<std::string> chunks;    // separate writes
    std::vector<std::string> rows;      // expected first rows, trailing spaces trimmed
    int cursorRow, cursorColumn;
    std::string answers = {};
    int columns = 80, rows_ = 25;
    std::int32_t eol = EndOfLineMode_NextLine;
};

std::string rowText(const Terminal& t, int r)
{
    return Screen::text(t.screen().row(r), t.columns(), t.utf8());
}

struct Feeder {
    Terminal t;
    std::string answers;
    explicit Feeder(std::int32_t emulation, int columns = 80, int rows = 25)
    {
        t.resize(columns, rows);
        t.setEmulation(emulation);
        t.host.answer = [this](const std::uint8_t* b, std::size_t n) { answers.append((const char*)b, n); };
    }
    void feed(const std::string& s) { t.write(s); }
};

void check(const Script& s)
{
    SCOPED_TRACE(s.name);
    Feeder run(s.emulation, s.columns, s.rows_);
    run.t.setEndOfLineMode(s.eol);
    for (const auto& c : s.chunks)
        run.feed(c);
    for (std::size_t r = 0; r < s.rows.size(); ++r)
        EXPECT_EQ(rowText(run.t, int(r)), s.rows[r]) << "row " << r;
    EXPECT_EQ(run.t.cursorRow(), s.cursorRow);
    EXPECT_EQ(run.t.cursorColumn(), s.cursorColumn);
    EXPECT_EQ(run.answers, s.answers);
}

const std::string E = "\x1b";

}  // namespace

TEST(Interpreters, CursorMotionAndLimits)
{
    const std::vector<Script> scripts = {
        {"CUP 5;10", Emulation_VT100, {E + "[5;10H"}, {}, 4, 9},
        {"CUP home", Emulation_Ansi, {"abc", E + "[H"}, {"abc"}, 0, 0},
        {"CUP off screen ignored", Emulation_VT100, {E + "[3;3H", E + "[99;1H"}, {}, 2, 2},
        {"up stops at row 0", Emulation_VT100, {E + "[3;3H", E + "[9A"}, {}, 0, 2},
        {"down stops at last", Emulation_VT100, {E + "[40B"}, {}, 24, 0},
        {"right stops at last column", Emulation_VT100, {E + "[200C"}, {}, 0, 79},
        {"left default 1", Emulation_VT100, {"abc", E + "[D"}, {"abc"}, 0, 2},
        {"save and restore", Emulation_Ansi, {E + "[4;4H", E + "[s", E + "[H", E + "[u"}, {}, 3, 3},
        {"ESC 7 / ESC 8", Emulation_VT100, {E + "[4;6H", E + "7", E + "[H", E + "8"}, {}, 3, 5},
        {"ESC D stops at last row", Emulation_VT100, {E + "[25;1Hx", E + "D"}, {}, 24, 1},
        {"ESC E is next line", Emulation_VT100, {"ab", E + "E", "c"}, {"ab", "c"}, 1, 1},
        {"split sequence", Emulation_VT100, {E, "[", "5;1", "0H"}, {}, 4, 9},
        {"lone CSI byte", Emulation_VT100, {"\x9b" "3;4H"}, {}, 2, 3},
        {"CR BS TAB", Emulation_TTY, {"abcd\rX\b\tY"}, {"Xbcd    Y"}, 0, 9},
        {"TAB at column 77", Emulation_VT100, {E + "[1;78H\t"}, {}, 0, 79},
        {"LF keeps column", Emulation_TTY, {"ab\ncd"}, {"ab", "  cd"}, 1, 4},
    };
    for (const auto& s : scripts)
        check(s);
}

TEST(Interpreters, EraseModes)
{
    const std::string fill = "0123456789\r\n0123456789\r\n0123456789";
    const std::vector<Script> scripts = {
        {"J0", Emulation_VT100, {fill, E + "[2;5H" + E + "[J"}, {"0123456789", "0123", ""}, 1, 4, {}, 10, 4},
        {"J1", Emulation_VT100, {fill, E + "[2;5H" + E + "[1J"}, {"", "    456789", "0123456789"}, 1, 4, {}, 10, 4},
        {"K0", Emulation_Ansi, {fill, E + "[2;5H" + E + "[K"}, {"0123456789", "0123", "0123456789"}, 1, 4, {}, 10, 4},
        {"K1", Emulation_Ansi, {fill, E + "[2;5H" + E + "[1K"}, {"0123456789", "    456789"}, 1, 4, {}, 10, 4},
        {"K2 homes the column", Emulation_Ansi, {fill, E + "[2;5H" + E + "[2K"}, {"0123456789", ""}, 1, 0, {}, 10, 4},
        {"VT52 J and K", Emulation_VT52, {fill, E + "Y" + char(32 + 1) + char(32 + 4) + E + "K" + E + "H" + E + "Y" + char(32 + 2) + char(32 + 8) + E + "J"},
         {"0123456789", "0123", "01234567", ""}, 2, 8, {}, 10, 4},
    };
    for (const auto& s : scripts)
        check(s);
}

TEST(Interpreters, EraseScreenGoesToScrollBack)
{
    Feeder run(Emulation_Ansi, 10, 3);
    run.t.setScrollRows(5);
    run.feed("one\r\ntwo\r\nthree" + E + "[2J");
    EXPECT_EQ(run.t.contents(), "\r\n\r\n\r\n");
    EXPECT_EQ(run.t.scrollContents(), "one\r\ntwo\r\nthree\r\n");
    EXPECT_EQ(run.t.cursorRow(), 0);
    EXPECT_EQ(run.t.cursorColumn(), 0);
}

TEST(Interpreters, GraphicRendition)
{
    struct Case { std::string seq; int from; int expected; };
    const std::vector<Case> cases = {
        {"[1;31;44m", 31, 0x1C}, {"[0m", 0x1C, 0x07}, {"[m", 0x1C, 0x07}, {"[7m", 0x1C, 0xC1},
        {"[5m", 0x07, 0x87}, {"[22m", 0x0F, 0x07}, {"[32m", 0x0F, 0x0A}, {"[47m", 0x87, 0xF7},
        {"[8m", 0x1C, 0x10}, {"[;1m", 0x07, 0x07}, {"[99m", 0x07, 0x07}, {"[1;;31m", 0x07, 0x0F},
    };
    for (const auto& c : cases) {
        Feeder run(Emulation_VT100);
        run.t.setColor(std::uint8_t(c.from));
        run.feed(E + c.seq + "x");
        EXPECT_EQ(run.t.color(), c.expected) << c.seq;
        EXPECT_EQ(run.t.screen().row(0)[0].attr, c.expected) << c.seq;
    }
}

TEST(Interpreters, StatusAnswersAndModes)
{
    const std::vector<Script> scripts = {
        {"DSR 5", Emulation_VT100, {E + "[5n"}, {}, 0, 0, E + "[0n"},
        {"CPR at home", Emulation_Ansi, {E + "[6n"}, {}, 0, 0, E + "[1;1R"},
        {"CPR after motion", Emulation_VT100, {E + "[7;12H" + E + "[6n"}, {}, 6, 11, E + "[7;12R"},
        {"other n not answered", Emulation_VT100, {E + "[15n"}, {}, 0, 0, ""},
        {"DA", Emulation_VT100, {E + "[c"}, {}, 0, 0, E + "[?1;2c"},
        {"VT52 identify", Emulation_VT52, {E + "Z"}, {}, 0, 0, E + "/Z"},
        {"answers never printed", Emulation_VT100, {"a" + E + "[6nb"}, {"ab"}, 0, 2, E + "[1;2R"},
    };
    for (const auto& s : scripts)
        check(s);

    Feeder run(Emulation_VT100);
    std::vector<bool> echo;
    run.t.host.setEcho = [&](bool on) { echo.push_back(on); };
    run.feed(E + "[12h" + E + "[12l" + E + "[?6h");
    EXPECT_EQ(echo, (std::vector<bool>{false, true}));
    EXPECT_TRUE(run.t.originFlag());
    run.feed(E + "[2;5r" + E + "[?3h");
    EXPECT_EQ(run.t.columns(), 132);
    EXPECT_EQ(run.t.regionBottom(), 0);
    run.feed(E + "[?3l");
    EXPECT_EQ(run.t.columns(), 80);
}

TEST(Interpreters, DeferredWrapInEachEndOfLineMode)
{
    const std::string row80(80, 'a');
    const std::vector<Script> scripts = {
        {"next line", Emulation_VT100, {row80 + "b"}, {row80, "b"}, 1, 1},
        {"cursor waits past the edge", Emulation_VT100, {row80}, {row80, ""}, 0, 80},
        {"do nothing drops", Emulation_VT100, {row80 + "bc"}, {row80, ""}, 0, 80, {}, 80, 25, EndOfLineMode_DoNothing},
        {"wrap line", Emulation_TTY, {row80 + "b"}, {"b" + std::string(79, 'a')}, 0, 1, {}, 80, 25, EndOfLineMode_WrapLine},
        {"wrap screen from last row", Emulation_TTY, {std::string(10, 'x') + "\n", std::string(10, 'y') + "z"}, {"yyyyyyyyyy", "z"}, 1, 1, {}, 10, 2, EndOfLineMode_WrapScreen},
        {"next line scrolls at last row", Emulation_TTY, {std::string(10, 'x') + "\r\n" + std::string(10, 'y') + "z"}, {"yyyyyyyyyy", "z"}, 1, 1, {}, 10, 2},
        {"CR clears the pending wrap", Emulation_VT100, {row80 + "\rb"}, {"b" + std::string(79, 'a')}, 0, 1},
    };
    for (const auto& s : scripts)
        check(s);
}

TEST(Interpreters, LineDrawingAndTranslation)
{
    const std::vector<Script> scripts = {
        {"ESC ( 0", Emulation_VT100, {E + "(0q" + E + "(Bq"}, {"\xc4q"}, 0, 2},
        {"SO / SI in VT100", Emulation_VT100, {"\x0elqk\x0fx"}, {"\xda\xc4\xbfx"}, 0, 4},
        {"SO ignored in ANSI", Emulation_Ansi, {"\x0eq"}, {"q"}, 0, 1},
    };
    for (const auto& s : scripts)
        check(s);

    Feeder run(Emulation_VT100);
    std::uint8_t table[256];
    for (int i = 0; i < 256; ++i)
        table[i] = std::uint8_t(i);
    table['a'] = 0;
    table['b'] = 7;
    table['c'] = 'C';
    run.t.setTranslationTable(table);
    run.feed("xaybzc");
    EXPECT_EQ(rowText(run.t, 0), "xyzC");
    EXPECT_EQ(run.t.cursorColumn(), 4);
}

TEST(Interpreters, OverlongSequencesAreDropped)
{
    // 19 bytes still act; 20 bytes are dropped whole, also across writes.
    const std::string nineteen = E + "[" + std::string(12, '0') + "5;10H";
    const std::string twenty = E + "[" + std::string(13, '0') + "5;10H";
    check({"19 bytes act", Emulation_VT100, {nineteen}, {}, 4, 9});
    check({"20 bytes dropped", Emulation_VT100, {"ab" + twenty + "c"}, {"abc"}, 0, 3});
    check({"dropped across writes", Emulation_Ansi, {E + "[" + std::string(10, '0'), std::string(10, '0'), "5;10Hx"}, {"x"}, 0, 1});
    // A final byte outside the command set ends the sequence without eating text.
    check({"unknown final", Emulation_VT100, {E + "[5dab" + E + "[?25lc" + E + "[>cd"}, {"abcd"}, 0, 4, E + "[?1;2c"});
}

TEST(Interpreters, ScrollRegions)
{
    auto lines = [](int n) {
        std::string s;
        for (int i = 0; i < n; ++i)
            s += (i ? "\r\n" : "") + std::string(1, char('A' + i));
        return s;
    };
    const std::vector<Script> scripts = {
        {"LF at region bottom scrolls the region", Emulation_VT100, {lines(6), E + "[2;4r", E + "[4;1H\nX"},
         {"A", "C", "D", "X", "E", "F"}, 3, 1, {}, 10, 6},
        {"LF below region moves down", Emulation_VT100, {lines(6), E + "[1;3r", E + "[4;1H\nX"},
         {"A", "B", "C", "D", "X", "F"}, 4, 1, {}, 10, 6},
        {"LF on last row below region stays", Emulation_VT100, {lines(6), E + "[1;3r", E + "[6;1H\nX"},
         {"A", "B", "C", "D", "E", "X"}, 5, 1, {}, 10, 6},
        {"region set homes to its top", Emulation_VT100, {E + "[3;5r"}, {}, 2, 0, {}, 10, 6},
        {"invalid region ignored", Emulation_VT100, {E + "[2;9r"}, {}, 0, 0, {}, 10, 6},
        {"reverse index at region top", Emulation_VT100, {lines(4), E + "[2;3r", E + "M", "X"}, {"A", "X", "B", "D"}, 1, 1, {}, 10, 4},
    };
    for (const auto& s : scripts)
        check(s);

    // Only a region starting at the top row feeds the scroll-back.
    Feeder top(Emulation_VT100, 10, 4);
    top.t.setScrollRows(10);
    top.feed(lines(4) + E + "[1;2r" + E + "[2;1H\n");
    EXPECT_EQ(top.t.scrollContents(), "A\r\n");
    Feeder middle(Emulation_VT100, 10, 4);
    middle.t.setScrollRows(10);
    middle.feed(lines(4) + E + "[2;3r" + E + "[3;1H\n");
    EXPECT_EQ(middle.t.scrollContents(), "");
    EXPECT_EQ(middle.t.contents(), "A\r\nC\r\n\r\nD\r\n");
}

TEST(Interpreters, FormFeedAndScrollingFeedTheScrollBack)
{
    Feeder run(Emulation_TTY, 10, 2);
    run.t.setScrollRows(3);
    run.feed("a\r\nb\r\nc");  // "a" scrolls out
    EXPECT_EQ(run.t.scrollContents(), "a\r\n");
    run.feed("\f");
    EXPECT_EQ(run.t.scrollContents(), "a\r\nb\r\nc\r\n");
    EXPECT_EQ(run.t.contents(), "\r\n\r\n");
    run.feed("\fd");
    EXPECT_EQ(run.t.scrollContents(), "c\r\n\r\n\r\n");  // the oldest rows give way to blank ones
}

TEST(Interpreters, Vt52CommandFraming)
{
    const std::vector<Script> scripts = {
        {"Y addresses row then column", Emulation_VT52, {E + "Y" + char(32 + 5) + char(32 + 10) + "x"}, {}, 5, 11},
        {"Y clamps into the screen", Emulation_VT52, {E + "Y" + char(32 + 90) + char(32 + 100)}, {}, 24, 79},
        {"Y split across writes", Emulation_VT52, {E, "Y", std::string(1, char(33)), std::string(1, char(34))}, {}, 1, 2},
        {"two-byte commands", Emulation_VT52, {E + "Y" + char(34) + char(34) + E + "A" + E + "C" + E + "C" + E + "B" + E + "D"}, {}, 2, 3},
        {"unknown command dropped", Emulation_VT52, {"a" + E + "Qb"}, {"ab"}, 0, 2},
        {"CSI is text in VT52", Emulation_VT52, {"\x9b"}, {"\x9b"}, 0, 1},
    };
    for (const auto& s : scripts)
        check(s);
}

TEST(Interpreters, TtyPrintsEscapeAsText)
{
    check({"ESC printed", Emulation_TTY, {E + "[H"}, {"\x1b[H"}, 0, 3});
    Feeder none(Emulation_None);
    none.feed("abc" + E + "[6n");
    EXPECT_FALSE(none.t.hasScreen());
    EXPECT_EQ(none.answers, "");
}

TEST(Interpreters, BackspaceModes)
{
    Feeder nd(Emulation_TTY);
    nd.feed("ab\b");
    EXPECT_EQ(rowText(nd.t, 0), "ab");
    Feeder d(Emulation_TTY);
    d.t.setBackspace(BackSpace_Destructive);
    d.feed("ab\b\b\b");
    EXPECT_EQ(rowText(d.t, 0), "");
    EXPECT_EQ(d.t.cursorColumn(), 0);
}
