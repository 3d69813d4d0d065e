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
#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QImage>
#include <QKeyEvent>
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

namespace {

// Whether some pixel row of a cell is all one colour across the cell: a
// line drawn through it.
bool hasLine(const QImage& image, QRect cell, const QColor& color)
{
    for (int y = cell.top(); y <= cell.bottom(); ++y) {
        bool whole = true;
        for (int x = cell.left(); x <= cell.right() && whole; ++x)
            whole = image.pixelColor(x, y) == color;
        if (whole)
            return true;
    }
    return false;
}

}  // namespace

TEST_F(ViewTest, ExtendedColoursLinesAndTheThemesDefaults)
{
    QPalette theme = m_view->palette();
    theme.setColor(QPalette::Base, QColor(250, 250, 240));
    theme.setColor(QPalette::Text, QColor(20, 20, 20));
    m_view->setPalette(theme);
    SetCharacterSet(m_object, CharacterSet_Utf8);
    SetRendition(m_object, Rendition_Extended);
    const std::string bytes = "\x1b[38;5;196;48;2;1;2;3mAB\x1b[0m  \x1b[4m   \x1b[0;9;48;5;46m   \x1b[0m";
    TerminalWrite(m_object, bytes.data(), std::int32_t(bytes.size()));
    pumpUntil([] { return false; }, 100);
    const QImage image = m_view->viewport()->grab().toImage();
    const QSize c = m_view->cellSize();
    auto cell = [&](int row, int column) { return QRect(QPoint(column * c.width(), row * c.height()), c); };
    EXPECT_EQ(image.pixelColor(cell(0, 0).topLeft()), QColor(1, 2, 3));
    EXPECT_EQ(image.pixelColor(cell(0, 2).topLeft()), QColor(250, 250, 240));   // default background
    EXPECT_EQ(image.pixelColor(cell(5, 40).topLeft()), QColor(250, 250, 240));  // a fresh screen's too
    EXPECT_FALSE(hasLine(image, cell(0, 3), QColor(20, 20, 20)));
    EXPECT_TRUE(hasLine(image, cell(0, 5), QColor(20, 20, 20)));                 // underlined spaces
    EXPECT_EQ(image.pixelColor(cell(0, 8).topLeft()), QColor(0, 255, 0));
    EXPECT_TRUE(hasLine(image, cell(0, 8), QColor(20, 20, 20)));                 // struck through

    // The PC rendition reads the same underline as a bright foreground.
    SetRendition(m_object, Rendition_PC);
    TerminalWrite(m_object, "\r\n\x1b[0;4m   ", 10);
    pumpUntil([] { return false; }, 100);
    const QImage pc = m_view->viewport()->grab().toImage();
    EXPECT_FALSE(hasLine(pc, cell(1, 1), QColor(255, 255, 255)));
    EXPECT_EQ(GetColor(m_object), 0x0F);
}

TEST_F(ViewTest, TheScreenFollowsTheViewsSize)
{
    SetAutoSize(m_object, AutoSize_Screen);
    std::string lines;
    for (int i = 0; i < 30; ++i)
        lines += "line " + std::to_string(i) + "\r\n";
    TerminalWrite(m_object, lines.data(), std::int32_t(lines.size()));
    const QSize c = m_view->cellSize();
    m_view->resize(m_view->width() - 10 * c.width() - c.width() / 2, 10 * c.height() + 2 * m_view->frameWidth());
    ASSERT_TRUE(pumpUntil([&] { return GetRows(m_object) == 10; }, 3000));
    EXPECT_EQ(GetColumns(m_object), 69);
    EXPECT_EQ(m_view->horizontalScrollBar()->isVisible(), false);
    std::string text = contentsOf(m_object);
    EXPECT_EQ(text.substr(text.size() - 11), "line 29\r\n\r\n");   // the cursor's row stays
    char back[8192];
    const std::string scroll(back, std::size_t(GetScrollContents(m_object, back, sizeof back)));
    EXPECT_EQ(scroll.substr(0, 8), "line 0\r\n");

    m_view->resize(m_view->width(), 20 * c.height() + 2 * m_view->frameWidth());
    ASSERT_TRUE(pumpUntil([&] { return GetRows(m_object) == 20; }, 3000));
    text = contentsOf(m_object);
    EXPECT_EQ(text.substr(0, 9), "line 11\r\n");   // rows came back from the scroll-back
    EXPECT_EQ(GetCursorRow(m_object), 19);
}

TEST_F(ViewTest, ANewFontShowsAtOnceAndTheDialogStartsRegular)
{
    SetAutoSize(m_object, AutoSize_Screen);
    const int columns = GetColumns(m_object);
    const QSize before = m_view->cellSize();
    lt::automation::FontDesc big;
    big.name = QFontInfo(m_view->font()).family().toStdString();
    big.size = 200000;
    win::sendMessage(m_object, win::WM_SETFONT, reinterpret_cast<win::WParam>(&big), 1);
    m_view->refreshFont();   // no repaint batch needed
    EXPECT_GT(m_view->cellSize().height(), before.height());
    EXPECT_LT(GetColumns(m_object), columns);
    EXPECT_EQ(GetColumns(m_object), m_view->viewport()->width() / m_view->cellSize().width());

    const QFont start = m_view->dialogFont();
    EXPECT_EQ(start.family(), m_view->font().family());
    if (!QFontDatabase::styles(start.family()).isEmpty()) {
        EXPECT_FALSE(start.styleName().isEmpty());
        EXPECT_FALSE(QFontDatabase::font(start.family(), start.styleName(), 10).italic()) << start.styleName().toStdString();
    }
}

TEST_F(ViewTest, Utf8KeysAndClipboard)
{
    SetCharacterSet(m_object, CharacterSet_Utf8);
    QKeyEvent typed(QEvent::KeyPress, 0, Qt::NoModifier, QString::fromUtf8("\xC3\xA9"));
    QCoreApplication::sendEvent(m_view.get(), &typed);
    EXPECT_EQ(m_pty.receive(2, 3000), "\xC3\xA9");

    TerminalWrite(m_object, "\xE6\x97\xA5\xE6\x9C\xAC \xC3\xA9", 9);
    ASSERT_EQ(SetSelectionStart(m_object, 0), 0);
    ASSERT_EQ(SetSelectionLength(m_object, 80), 0);
    ASSERT_EQ(CopySelectionToClipboard(m_object), 1);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QString::fromUtf8("\xE6\x97\xA5\xE6\x9C\xAC \xC3\xA9\r\n"));
}
