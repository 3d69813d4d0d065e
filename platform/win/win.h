// Hidden windows and window messages over Qt Core.
//
// The engines above this layer are written in the event-driven style of a
// window system: a hidden "window" with a procedure, synchronous and posted
// messages, window timers, and waits that pump the thread's messages. This
// header is that surface; win_qt.cpp implements it with QObject, posted
// QEvents and QObject timers. Handles are never reused while the process
// runs, so isWindow() answers "does the object still exist?" safely even
// after it was destroyed inside a call.
#pragma once

#include <cstdint>
#include <string>

namespace win {

using Hwnd = std::uintptr_t;   // 0 is the null handle
using WParam = std::uintptr_t;
using LParam = std::intptr_t;
using LResult = std::intptr_t;
using WndProc = LResult (*)(Hwnd, std::uint32_t msg, WParam, LParam);

// Message numbers keep their Windows values.
constexpr std::uint32_t WM_NULL = 0x0000;
constexpr std::uint32_t WM_CREATE = 0x0001;
constexpr std::uint32_t WM_DESTROY = 0x0002;
constexpr std::uint32_t WM_ENABLE = 0x000A;
constexpr std::uint32_t WM_CLOSE = 0x0010;
constexpr std::uint32_t WM_QUIT = 0x0012;
constexpr std::uint32_t WM_SETTEXT = 0x000C;
constexpr std::uint32_t WM_GETTEXT = 0x000D;
constexpr std::uint32_t WM_GETTEXTLENGTH = 0x000E;
constexpr std::uint32_t WM_ERASEBKGND = 0x0014;
constexpr std::uint32_t WM_SETFONT = 0x0030;  // wParam: font handle, lParam: redraw
constexpr std::uint32_t WM_GETFONT = 0x0031;
constexpr std::uint32_t WM_COMMAND = 0x0111;
constexpr std::uint32_t WM_TIMER = 0x0113;
constexpr std::uint32_t WM_USER = 0x0400;

// Window styles the callers pass; kept for what getWindowStyle() reports.
constexpr std::uint32_t WS_POPUP = 0x80000000u;
constexpr std::uint32_t WS_CHILD = 0x40000000u;
constexpr std::uint32_t WS_VISIBLE = 0x10000000u;
constexpr std::uint32_t WS_DISABLED = 0x08000000u;
constexpr std::uint32_t WS_VSCROLL = 0x00200000u;
constexpr std::uint32_t WS_HSCROLL = 0x00100000u;
constexpr std::uint32_t CS_DBLCLKS = 0x0008u;

constexpr std::uint32_t ERROR_SUCCESS = 0;
constexpr std::uint32_t ERROR_ACCESS_DENIED = 5;  // window of another thread
constexpr std::uint32_t ERROR_INVALID_WINDOW_HANDLE = 1400;
constexpr std::uint32_t ERROR_CLASS_ALREADY_EXISTS = 1410;
constexpr std::uint32_t ERROR_CANNOT_FIND_WND_CLASS = 1407;

// Extra-word indexes: 0 is the class's first extra word, GWLP_USERDATA the
// user word every window has.
constexpr int GWLP_USERDATA = -21;

struct WndClass {
    std::string name;
    std::uint32_t style = 0;
    int extraWords = 0;  // number of pointer-sized extra words
    WndProc proc = nullptr;
};

// WM_CREATE's lParam points to this.
struct CreateStruct {
    void* createParams;
    Hwnd parent;
    int id;
    std::uint32_t style;
    const char* caption;
    const char* className;
};

// Returns false (lastError ERROR_CLASS_ALREADY_EXISTS) when a class of that
// name is registered already.
bool registerClass(const WndClass& cls);
bool unregisterClass(const std::string& name);
bool isClassRegistered(const std::string& name);

// Creates a window of a registered class on the calling thread and sends it
// WM_CREATE; a procedure answering -1 makes creation fail (returns 0).
Hwnd createWindow(const std::string& className, const std::string& caption, std::uint32_t style,
                  Hwnd parent, int id = 0, void* createParams = nullptr);
// Sends WM_DESTROY, destroys the children first, stops the window's timers and
// drops its posted messages. Returns false for a handle that is not a window,
// and (ERROR_ACCESS_DENIED) when called from a thread that does not own it.
bool destroyWindow(Hwnd hwnd);
bool isWindow(Hwnd hwnd);

Hwnd getParent(Hwnd hwnd);
int getDlgCtrlId(Hwnd hwnd);
std::uint32_t getWindowStyle(Hwnd hwnd);
std::string getClassName(Hwnd hwnd);
// The caption as stored at creation or by setWindowText (not via WM_GETTEXT).
std::string getWindowCaption(Hwnd hwnd);
// Sends WM_SETTEXT with the text; the default handling stores it as caption.
bool setWindowText(Hwnd hwnd, const std::string& text);

// Enables or disables input to the window (its WS_DISABLED style) and sends
// it WM_ENABLE (wParam: enabled) when that changes. Returns whether the
// window was disabled before; false for a handle that is not a window.
bool enableWindow(Hwnd hwnd, bool enable);
bool isWindowEnabled(Hwnd hwnd);

std::intptr_t getWindowLongPtr(Hwnd hwnd, int index);
// Returns the previous value; 0 and lastError set for a bad handle or index.
std::intptr_t setWindowLongPtr(Hwnd hwnd, int index, std::intptr_t value);

// Calls the window procedure synchronously. From another thread the call is
// carried to the window's thread and waits for it.
LResult sendMessage(Hwnd hwnd, std::uint32_t msg, WParam wParam, LParam lParam);
// Queues the message for the window's thread. Thread-safe. False when the
// handle is not a window.
bool postMessage(Hwnd hwnd, std::uint32_t msg, WParam wParam, LParam lParam);
// What a window procedure does with a message it does not handle:
// WM_SETTEXT and WM_GETTEXT keep the caption, WM_SETFONT and WM_GETFONT
// the window's font handle, WM_CLOSE destroys the window.
LResult defWindowProc(Hwnd hwnd, std::uint32_t msg, WParam wParam, LParam lParam);

// Marks a quit request for the running event loop (QCoreApplication::exit).
void postQuitMessage(int exitCode);

// Window timers: WM_TIMER with wParam = id every ms milliseconds. Setting an
// id that runs already restarts it. Returns the id, or 0 on failure. Only
// the window's own thread may set or kill its timers (ERROR_ACCESS_DENIED).
std::uintptr_t setTimer(Hwnd hwnd, std::uintptr_t id, std::uint32_t ms);
bool killTimer(Hwnd hwnd, std::uintptr_t id);

// Processes the calling thread's pending events once. Returns false when a
// quit was requested (then *exitCode holds its code and the request is
// consumed; the caller posts it again when it hands control back).
bool pumpMessages(int* exitCode = nullptr);

// Milliseconds from a monotonic clock as a wrapping 32-bit value.
std::uint32_t tickCount();
// Wrap-safe "now is at or past deadline".
inline bool tickReached(std::uint32_t now, std::uint32_t deadline)
{
    return static_cast<std::int32_t>(now - deadline) >= 0;
}
void sleepMs(std::uint32_t ms);

std::uint32_t getLastError();
void setLastError(std::uint32_t code);

}  // namespace win
