// The terminal view under the offscreen platform, on a comm object whose
// port is a pseudo-terminal: keys reach the far end as the key table says,
// what the far end draws is the screen, painting, selection and paging.
#include "pty_pair.h"
#include "pump.h"
#include "win/win.h"
#include "automation/automation.h"
#include "qelcomm_terminal.h"
#include "terminal_registry.h"
#include "terminal_view.h"

#include <QClipboard>
#include <QFontInfo>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QImage>
#include <QScrollBar>
#include <QTest>

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <thread>

using namespace qelcomm::terminal;

namespace {

using testsupport::pumpUntil;

std::string contentsOf(QcHandle object)
{
    char buffer[8192];
    return std::string(buffer, std::size_t(GetContents(object, buffer, sizeof buffer)));
}

class ViewTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_ports.map(9, m_pty.slavePath());
        m_object = CreateCommObject(0);
        SetEmulation(m_object, Emulation_VT100);
        SetScrollRows(m_object, 100);
        SetCommPort(m_object, 9);
        ASSERT_EQ(SetPortOpen(m_object, 1), 1);
        SetAutoProcess(m_object, 3);  // received bytes to the screen, keys to the port
        m_view = std::make_unique<TerminalView>(m_object);
        m_view->resize(m_view->terminalSize());
        m_view->show();
        m_view->setFocus();
    }
    void TearDown() override
    {
        m_view.reset();
        DestroyCommObject(m_object);
    }
    QPoint cellCentre(int row, int column) const
    {
        const QSize c = m_view->cellSize();
        return {column * c.width() + c.width() / 2, row * c.height() + c.height() / 2};
    }

    testsupport::PtyPair m_pty;
    testsupport::PortsMap m_ports;
    QcHandle m_object = 0;
    std::unique_ptr<TerminalView> m_view;
};

}  // namespace

TEST_F(ViewTest, KeysReachTheFarEndAsTheKeyTableSays)
{
    QTest::keyClicks(m_view.get(), "ls -l");
    QTest::keyClick(m_view.get(), Qt::Key_Return);
    QTest::keyClick(m_view.get(), Qt::Key_C, Qt::ControlModifier);
    QTest::keyClick(m_view.get(), Qt::Key_Left);
    QTest::keyClick(m_view.get(), Qt::Key_Up);
    QTest::keyClick(m_view.get(), Qt::Key_Right);
    QTest::keyClick(m_view.get(), Qt::Key_Down);
    QTest::keyClick(m_view.get(), Qt::Key_Backspace);
    QTest::keyClick(m_view.get(), Qt::Key_F2);
    QTest::keyClick(m_view.get(), Qt::Key_Home, Qt::ControlModifier);
    QTest::keyClick(m_view.get(), Qt::Key_Tab);
    const std::string expected = "ls -l\r\x03\x1b[D\x1b[A\x1b[C\x1b[B\b\x1bOQ\x1b[2J\t";
    EXPECT_EQ(m_pty.receive(expected.size(), 3000), expected);

    // Keyboard sending off: nothing leaves.
    SetAutoProcess(m_object, 1);
    QTest::keyClicks(m_view.get(), "x");
    QTest::keyClick(m_view.get(), Qt::Key_Up);
    EXPECT_EQ(m_pty.receive(1, 300), "");
}

TEST_F(ViewTest, ADisabledObjectTakesNoKeys)
{
    win::enableWindow(m_object, false);
    QTest::keyClicks(m_view.get(), "x");
    EXPECT_EQ(m_pty.receive(1, 300), "");
    win::enableWindow(m_object, true);
    QTest::keyClicks(m_view.get(), "y");
    EXPECT_EQ(m_pty.receive(1, 3000), "y");
}

TEST_F(ViewTest, TheWindowFontSetsTheCells)
{
    lt::automation::FontDesc big;  // "Terminal", which this machine may not have
    big.size = 240000;
    win::sendMessage(m_object, win::WM_SETFONT, reinterpret_cast<win::WParam>(&big), 1);
    TerminalView other(m_object);
    EXPECT_NEAR(other.font().pointSizeF(), 24.0, 0.1);
    EXPECT_TRUE(QFontInfo(other.font()).fixedPitch());
    EXPECT_GT(other.cellSize().height(), m_view->cellSize().height());

    // A change reaches the view at its next repaint.
    lt::automation::FontDesc small = big;
    small.size = 80000;
    small.italic = true;
    win::sendMessage(m_object, win::WM_SETFONT, reinterpret_cast<win::WParam>(&small), 1);
    other.flushRepaint();
    EXPECT_NEAR(other.font().pointSizeF(), 8.0, 0.1);
    EXPECT_TRUE(other.font().italic());
    EXPECT_LT(other.cellSize().height(), QFontMetrics(QFont(other.font().family(), 24)).height());
}

TEST_F(ViewTest, WhatTheFarEndDrawsIsTheScreen)
{
    m_pty.send("\x1b[2J\x1b[3;5Hhello\x1b[41m  \x1b[0m\r\n\x1b(0lqk\x1b(B");
    ASSERT_TRUE(pumpUntil([&] { return contentsOf(m_object).find("\xda\xc4\xbf") != std::string::npos; }, 5000));
    EXPECT_EQ(contentsOf(m_object).substr(0, 18), "\r\n\r\n    hello\r\n\xda\xc4\xbf");

    // The cells painted red are where the far end put them.
    pumpUntil([] { return false; }, 100);
    const QImage image = m_view->viewport()->grab().toImage();
    const QPoint red = cellCentre(2, 10), blue = cellCentre(0, 0);
    EXPECT_EQ(image.pixelColor(red), QColor(170, 0, 0));
    EXPECT_EQ(image.pixelColor(blue), QColor(0, 0, 170));
}

TEST_F(ViewTest, MouseSelectionAndClipboard)
{
    TerminalWrite(m_object, "first line\r\nsecond line", 23);
    QTest::mousePress(m_view->viewport(), Qt::LeftButton, {}, cellCentre(1, 3));
    QTest::mouseMove(m_view->viewport(), cellCentre(0, 6));   // backwards
    QTest::mouseRelease(m_view->viewport(), Qt::LeftButton, {}, cellCentre(0, 6));
    char text[64];
    GetSelectionText(m_object, text, sizeof text);
    EXPECT_STREQ(text, "line\r\nsec\r\n");
    EXPECT_EQ(GetSelectionStart(m_object), 6);

    // Shift moves only the end.
    QTest::mouseClick(m_view->viewport(), Qt::LeftButton, Qt::ShiftModifier, cellCentre(1, 6));
    GetSelectionText(m_object, text, sizeof text);
    EXPECT_STREQ(text, "line\r\nsecond\r\n");

    ASSERT_EQ(CopySelectionToClipboard(m_object), 1);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QString("line\r\nsecond\r\n"));
}

TEST_F(ViewTest, PagesThroughTheScrollBackAndEscapeReturns)
{
    std::string lines;
    for (int i = 0; i < 60; ++i)
        lines += "line " + std::to_string(i) + "\r\n";
    TerminalWrite(m_object, lines.data(), std::int32_t(lines.size()));
    auto t = terminalOf(m_object);
    ASSERT_EQ(t->viewTop(), 0);
    QTest::keyClick(m_view.get(), Qt::Key_PageUp);
    EXPECT_LT(t->viewTop(), 0);
    EXPECT_EQ(m_view->verticalScrollBar()->value(), t->viewTop());
    QTest::keyClick(m_view.get(), Qt::Key_Escape);
    EXPECT_EQ(t->viewTop(), 0);
    EXPECT_EQ(m_pty.receive(1, 300), "");  // Escape stayed in the view
    QTest::keyClick(m_view.get(), Qt::Key_Escape);
    EXPECT_EQ(m_pty.receive(1, 3000), "\x1b");
}

TEST_F(ViewTest, AutoSizeFitsTheTerminal)
{
    SetColumns(m_object, 40);
    SetRows(m_object, 10);
    SetAutoSize(m_object, AutoSize_Terminal);
    TerminalWrite(m_object, "x", 1);
    ASSERT_TRUE(pumpUntil([&] { return m_view->size() == m_view->terminalSize(); }, 3000));
    EXPECT_GE(m_view->width(), 40 * m_view->cellSize().width());
}
