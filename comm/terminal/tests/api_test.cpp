// The terminal members of the flat interface on real comm objects, and the
// engine's display path: bytes from a pseudo-terminal reach the screen and
// status answers go back to the far end.
#include "comm_object.h"
#include "pump.h"
#include "pty_pair.h"
#include "qelcomm_terminal.h"
#include "terminal_registry.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

namespace {

using testsupport::pumpUntil;

std::string contentsOf(QcHandle object)
{
    char buffer[4096];
    const int n = GetContents(object, buffer, sizeof buffer);
    return std::string(buffer, std::size_t(n));
}

struct Object {
    QcHandle h = CreateCommObject(0);
    ~Object() { DestroyCommObject(h); }
};

}  // namespace

TEST(TerminalApi, NotAnObjectIsANoOp)
{
    char buffer[8] = "x";
    EXPECT_EQ(GetColumns(12345), 0);
    EXPECT_EQ(GetContents(12345, buffer, sizeof buffer), 0);
    EXPECT_EQ(buffer[0], 'x');
    EXPECT_EQ(SetSelectionStart(12345, 0), 0);
    TerminalPrintString(12345, "abc");
    EXPECT_EQ(qelcomm::terminal::terminalOf(12345), nullptr);
}

TEST(TerminalApi, MembersOnAnObject)
{
    Object o;
    ASSERT_NE(o.h, 0u);
    EXPECT_EQ(GetEmulation(o.h), 0);
    EXPECT_EQ(GetColor(o.h), 31);
    EXPECT_EQ(GetBackspace(o.h), 1);
    EXPECT_EQ(GetAutoScroll(o.h), 4);
    EXPECT_EQ(GetContentsLength(o.h), 0);  // no screen yet

    SetEmulation(o.h, 4);
    EXPECT_EQ(GetContentsLength(o.h), 50);  // 25 blank rows
    ASSERT_EQ(SetColumns(o.h, 40), 1);
    EXPECT_EQ(SetRows(o.h, 0), 0);
    EXPECT_EQ(SetColumns(o.h, 70000), 0);
    EXPECT_EQ(GetColumns(o.h), 40);
    EXPECT_EQ(qelcomm::resolve(o.h)->columns, 40);

    qelbasColor(o.h, 14, 1);
    EXPECT_EQ(GetColor(o.h), 30);
    TerminalPrintString(o.h, "one\r\n\x1b[1;31mtwo");
    EXPECT_EQ(contentsOf(o.h).substr(0, 10), "one\r\ntwo\r\n");
    EXPECT_EQ(GetCursorRow(o.h), 1);
    EXPECT_EQ(GetCursorColumn(o.h), 3);

    ASSERT_EQ(SetSelectionStart(o.h, 40), 0);
    ASSERT_EQ(SetSelectionLength(o.h, 2), 0);
    char sel[16];
    EXPECT_EQ(GetSelectionText(o.h, sel, sizeof sel), 4);
    EXPECT_STREQ(sel, "tw\r\n");

    EXPECT_EQ(SetScrollRows(o.h, 10), 0);
    qelbasClearScreen(o.h);
    char back[256];
    EXPECT_EQ(GetScrollContents(o.h, back, sizeof back), GetScrollContentsLength(o.h));
    EXPECT_EQ(std::string(back).substr(0, 10), "one\r\ntwo\r\n");
    SetContents(o.h, "new", 3);
    EXPECT_EQ(contentsOf(o.h).substr(0, 5), "new\r\n");

    std::uint8_t table[256];
    GetTranslationTable(o.h, table);
    table['z'] = 0;
    SetTranslationTable(o.h, table);
    TerminalPrintString(o.h, "zz!");
    EXPECT_EQ(contentsOf(o.h).substr(0, 6), "new!\r\n");

    EXPECT_EQ(CopySelectionToClipboard(o.h), 0);  // no GUI application in this test
}

TEST(TerminalApi, ReceivedBytesReachTheScreenAndAnswersTheFarEnd)
{
    testsupport::PtyPair pty;
    testsupport::PortsMap ports;
    ports.map(7, pty.slavePath());
    Object o;
    SetEmulation(o.h, 4);
    SetCommPort(o.h, 7);
    ASSERT_EQ(SetPortOpen(o.h, 1), 1);
    SetInputEcho(o.h, 1);
    SetEcho(o.h, 0);

    pty.send("hello\x1b[6n\x1b[12l");
    std::string got;
    ASSERT_TRUE(pumpUntil([&] {
        char buffer[64];
        const int n = GetInput(o.h, buffer, sizeof buffer);
        got.append(buffer, std::size_t(n > 0 ? n : 0));
        return got.size() >= 13;
    }, 5000));
    EXPECT_EQ(contentsOf(o.h).substr(0, 7), "hello\r\n");
    EXPECT_EQ(pty.receive(6, 3000), "\x1b[1;6R");
    EXPECT_NE(GetEcho(o.h), 0);  // "12l" turned echo on
    // The answer was written to the port, not shown.
    EXPECT_EQ(GetCursorColumn(o.h), 5);
}

TEST(TerminalApi, TypedKeysGoThroughKeyboardSend)
{
    testsupport::PtyPair pty;
    testsupport::PortsMap ports;
    ports.map(8, pty.slavePath());
    Object o;
    SetEmulation(o.h, 4);
    SetCommPort(o.h, 8);
    ASSERT_EQ(SetPortOpen(o.h, 1), 1);
    using qelcomm::terminal::Key;
    EXPECT_FALSE(qelcomm::terminal::sendTyped(o.h, "x"));  // keyboard sending off
    SetAutoProcess(o.h, 2);
    SetEcho(o.h, 1);
    EXPECT_TRUE(qelcomm::terminal::sendTyped(o.h, "ls\r"));
    EXPECT_EQ(contentsOf(o.h).substr(0, 4), "ls\r\n");  // echoed keys are shown
    EXPECT_TRUE(qelcomm::terminal::sendKey(o.h, Key::Up, false));
    EXPECT_TRUE(qelcomm::terminal::sendKey(o.h, Key::F1, false));
    EXPECT_EQ(pty.receive(9, 3000), "ls\r\x1b[A\x1bOP");
}
