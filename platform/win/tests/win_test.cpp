#include "win/win.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

using namespace win;

namespace {

struct Seen {
    std::uint32_t msg;
    WParam wp;
    LParam lp;
};

std::vector<Seen> g_seen;
bool g_refuseCreate = false;
bool g_destroyOnUser = false;
int g_destroyCount = 0;
void* g_createParams = nullptr;
int g_createId = 0;

LResult recordProc(Hwnd h, std::uint32_t msg, WParam wp, LParam lp)
{
    if (msg == WM_CREATE) {
        auto* cs = reinterpret_cast<const CreateStruct*>(lp);
        g_createParams = cs->createParams;
        g_createId = cs->id;
        if (g_refuseCreate)
            return -1;
    }
    if (msg == WM_DESTROY)
        ++g_destroyCount;
    if (msg == WM_USER && g_destroyOnUser) {
        destroyWindow(h);
        EXPECT_FALSE(isWindow(h));
        return 7;
    }
    if (msg >= WM_USER || msg == WM_TIMER || msg == WM_CREATE)
        g_seen.push_back({msg, wp, lp});
    if (msg == WM_USER + 5) {
        // A wait inside a handler pumps; later messages run inside it.
        postMessage(h, WM_USER + 6, 0, 0);
        pumpMessages();
        g_seen.push_back({WM_USER + 7, 0, 0});
    }
    return defWindowProc(h, msg, wp, lp);
}

class WinTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_seen.clear();
        g_refuseCreate = g_destroyOnUser = false;
        g_destroyCount = 0;
        WndClass cls;
        cls.name = "LintrelTest";
        cls.extraWords = 1;
        cls.proc = recordProc;
        ASSERT_TRUE(registerClass(cls));
    }
    void TearDown() override { unregisterClass("LintrelTest"); }

    void pumpFor(std::uint32_t ms)
    {
        const std::uint32_t end = tickCount() + ms;
        while (!tickReached(tickCount(), end)) {
            pumpMessages();
            sleepMs(2);
        }
    }
};

}  // namespace

TEST_F(WinTest, CreationPassesCreateStructAndCanBeRefused)
{
    int param = 0;
    Hwnd h = createWindow("LintrelTest", "cap", WS_POPUP, 0, 5, &param);
    ASSERT_NE(h, 0u);
    ASSERT_EQ(g_seen.size(), 1u);
    EXPECT_EQ(g_createParams, &param);
    EXPECT_EQ(g_createId, 5);
    EXPECT_EQ(getDlgCtrlId(h), 5);
    EXPECT_EQ(getWindowStyle(h), WS_POPUP);
    EXPECT_EQ(getWindowCaption(h), "cap");
    EXPECT_EQ(getClassName(h), "LintrelTest");

    WndClass dup;
    dup.name = "LintrelTest";
    dup.proc = recordProc;
    EXPECT_FALSE(registerClass(dup));
    EXPECT_EQ(getLastError(), ERROR_CLASS_ALREADY_EXISTS);

    g_refuseCreate = true;
    EXPECT_EQ(createWindow("LintrelTest", "", 0, 0), 0u);
    EXPECT_EQ(g_destroyCount, 0);
    EXPECT_EQ(createWindow("NoSuchClass", "", 0, 0), 0u);
    destroyWindow(h);
}

TEST_F(WinTest, HandlesAreNotReusedAndDieWithTheirWindow)
{
    Hwnd a = createWindow("LintrelTest", "", 0, 0);
    Hwnd child = createWindow("LintrelTest", "", WS_CHILD, a, 3);
    EXPECT_EQ(getParent(child), a);
    EXPECT_EQ(setWindowLongPtr(a, 0, 42), 0);
    EXPECT_EQ(getWindowLongPtr(a, 0), 42);
    EXPECT_EQ(setWindowLongPtr(a, GWLP_USERDATA, 9), 0);
    EXPECT_EQ(getWindowLongPtr(a, GWLP_USERDATA), 9);

    EXPECT_TRUE(destroyWindow(a));
    EXPECT_EQ(g_destroyCount, 2);
    EXPECT_FALSE(isWindow(a));
    EXPECT_FALSE(isWindow(child));
    EXPECT_FALSE(destroyWindow(a));
    setLastError(0);
    EXPECT_EQ(getWindowLongPtr(a, 0), 0);
    EXPECT_EQ(getLastError(), ERROR_INVALID_WINDOW_HANDLE);
    EXPECT_EQ(sendMessage(a, WM_USER, 0, 0), 0);
    EXPECT_FALSE(postMessage(a, WM_USER, 0, 0));

    Hwnd b = createWindow("LintrelTest", "", 0, 0);
    EXPECT_NE(b, a);
    EXPECT_NE(b, child);
    destroyWindow(b);
}

TEST_F(WinTest, ProcedureMayDestroyItsOwnWindowDuringSend)
{
    Hwnd h = createWindow("LintrelTest", "", 0, 0);
    g_destroyOnUser = true;
    EXPECT_EQ(sendMessage(h, WM_USER, 0, 0), 7);
    EXPECT_FALSE(isWindow(h));
    EXPECT_EQ(g_destroyCount, 1);
}

TEST_F(WinTest, PostedMessagesArriveInOrderAndAreDroppedOnDestroy)
{
    Hwnd h = createWindow("LintrelTest", "", 0, 0);
    g_seen.clear();
    for (int i = 0; i < 5; ++i)
        ASSERT_TRUE(postMessage(h, WM_USER + 1, static_cast<WParam>(i), 0));
    EXPECT_TRUE(g_seen.empty());  // nothing runs before the pump
    pumpMessages();
    ASSERT_EQ(g_seen.size(), 5u);
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(g_seen[static_cast<std::size_t>(i)].wp, static_cast<WParam>(i));

    g_seen.clear();
    postMessage(h, WM_USER + 2, 0, 0);
    destroyWindow(h);
    pumpFor(20);
    EXPECT_TRUE(g_seen.empty());
}

TEST_F(WinTest, HandlerThatPumpsReceivesLaterMessages)
{
    Hwnd h = createWindow("LintrelTest", "", 0, 0);
    g_seen.clear();
    postMessage(h, WM_USER + 5, 0, 0);
    pumpMessages();
    ASSERT_EQ(g_seen.size(), 3u);
    EXPECT_EQ(g_seen[1].msg, WM_USER + 6);
    EXPECT_EQ(g_seen[2].msg, WM_USER + 7);
    destroyWindow(h);
}

TEST_F(WinTest, PostAndSendFromAnotherThread)
{
    Hwnd h = createWindow("LintrelTest", "", 0, 0);
    g_seen.clear();
    std::atomic<bool> done{false};
    LResult sent = 0;
    bool foreignDestroy = true, foreignTimer = true;
    std::thread t([&] {
        // Only the owning thread may destroy the window or run its timers.
        foreignDestroy = destroyWindow(h);
        foreignTimer = setTimer(h, 1, 10) != 0;
        for (int i = 0; i < 100; ++i)
            postMessage(h, WM_USER + 1, static_cast<WParam>(i), 0);
        sent = sendMessage(h, WM_GETTEXTLENGTH, 0, 0);
        done = true;
    });
    const std::uint32_t end = tickCount() + 3000;
    while (!done && !tickReached(tickCount(), end)) {
        pumpMessages();
        sleepMs(1);
    }
    t.join();
    pumpMessages();
    ASSERT_TRUE(done);
    EXPECT_FALSE(foreignDestroy);
    EXPECT_FALSE(foreignTimer);
    EXPECT_TRUE(isWindow(h));
    EXPECT_EQ(sent, 0);
    ASSERT_EQ(g_seen.size(), 100u);
    for (std::size_t i = 0; i < 100; ++i)
        EXPECT_EQ(g_seen[i].wp, i);
    destroyWindow(h);
}

TEST_F(WinTest, SenderOnAnotherThreadWakesWhenWindowIsDestroyed)
{
    Hwnd h = createWindow("LintrelTest", "", 0, 0);
    std::atomic<bool> done{false};
    std::thread t([&] {
        sendMessage(h, WM_USER + 3, 0, 0);
        done = true;
    });
    sleepMs(50);  // the send is queued; this thread does not pump
    destroyWindow(h);
    t.join();
    EXPECT_TRUE(done);
}

TEST_F(WinTest, TimersTickUntilKilledAndRestartOnReset)
{
    Hwnd h = createWindow("LintrelTest", "", 0, 0);
    g_seen.clear();
    EXPECT_EQ(setTimer(h, 77, 10), 77u);
    pumpFor(300);
    std::size_t ticks = 0;
    for (const auto& s : g_seen) {
        EXPECT_EQ(s.msg, WM_TIMER);
        EXPECT_EQ(s.wp, 77u);
        ++ticks;
    }
    EXPECT_GE(ticks, 3u);
    EXPECT_LE(ticks, 40u);

    // A long timer re-set to the same id keeps one timer, not two.
    EXPECT_EQ(setTimer(h, 77, 100000), 77u);
    g_seen.clear();
    pumpFor(100);
    EXPECT_TRUE(g_seen.empty());
    EXPECT_TRUE(killTimer(h, 77));
    EXPECT_FALSE(killTimer(h, 77));

    setTimer(h, 5, 10);
    destroyWindow(h);
    g_seen.clear();
    pumpFor(60);
    EXPECT_TRUE(g_seen.empty());
}

TEST_F(WinTest, TextMessages)
{
    Hwnd h = createWindow("LintrelTest", "first", 0, 0);
    EXPECT_TRUE(setWindowText(h, "hello world"));
    EXPECT_EQ(getWindowCaption(h), "hello world");
    EXPECT_EQ(sendMessage(h, WM_GETTEXTLENGTH, 0, 0), 11);
    char buf[6];
    EXPECT_EQ(sendMessage(h, WM_GETTEXT, sizeof buf, reinterpret_cast<LParam>(buf)), 5);
    EXPECT_STREQ(buf, "hello");
    sendMessage(h, WM_CLOSE, 0, 0);
    EXPECT_FALSE(isWindow(h));
}

TEST_F(WinTest, QuitRequestIsReportedOnceByThePump)
{
    int code = 0;
    EXPECT_TRUE(pumpMessages(&code));
    postQuitMessage(3);
    EXPECT_FALSE(pumpMessages(&code));
    EXPECT_EQ(code, 3);
    EXPECT_TRUE(pumpMessages(&code));
}

TEST(WinTick, ReachedAcrossTheWrap)
{
    const std::uint32_t deadline = 0xFFFFFFF0u + 0x20u;  // wraps to 0x10
    EXPECT_FALSE(tickReached(0xFFFFFFF0u, deadline));
    EXPECT_FALSE(tickReached(0x0Fu, deadline));
    EXPECT_TRUE(tickReached(0x10u, deadline));
    EXPECT_TRUE(tickReached(0x30u, deadline));
    EXPECT_TRUE(tickReached(0xFFFFFFF0u, 0xFFFFFF00u));
    const std::uint32_t a = tickCount();
    sleepMs(20);
    EXPECT_TRUE(tickReached(tickCount(), a + 15));
}
