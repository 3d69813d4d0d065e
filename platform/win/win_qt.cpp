// Hidden windows over Qt Core: every window is a QObject on its creating
// thread, posted messages are QEvents, window timers are QObject timers.
#include "win/win.h"

#include <QCoreApplication>
#include <QEvent>
#include <QObject>
#include <QThread>
#include <QTimerEvent>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <vector>

namespace win {
namespace {

thread_local std::uint32_t t_lastError = ERROR_SUCCESS;
thread_local bool t_quitPending = false;
thread_local int t_quitCode = 0;

const QEvent::Type kPostedType = static_cast<QEvent::Type>(QEvent::registerEventType());
const QEvent::Type kSentType = static_cast<QEvent::Type>(QEvent::registerEventType());

struct PostedEvent : QEvent {
    PostedEvent(std::uint32_t m, WParam w, LParam l) : QEvent(kPostedType), msg(m), wp(w), lp(l) {}
    std::uint32_t msg;
    WParam wp;
    LParam lp;
};

// A message sent from another thread; the sender waits on it. If the event is
// dropped unprocessed (window destroyed first), its destructor still wakes the
// sender, which then gets 0.
struct SendState {
    std::mutex m;
    std::condition_variable cv;
    bool done = false;
    LResult result = 0;
};

struct SentEvent : QEvent {
    SentEvent(std::shared_ptr<SendState> s, std::uint32_t m, WParam w, LParam l)
        : QEvent(kSentType), state(std::move(s)), msg(m), wp(w), lp(l)
    {
    }
    ~SentEvent() override { finish(0); }
    void finish(LResult r)
    {
        std::lock_guard<std::mutex> lock(state->m);
        if (state->done)
            return;
        state->result = r;
        state->done = true;
        state->cv.notify_all();
    }
    std::shared_ptr<SendState> state;
    std::uint32_t msg;
    WParam wp;
    LParam lp;
};

class Window : public QObject {
public:
    Hwnd handle = 0;
    std::string className;
    Hwnd parent = 0;
    int id = 0;
    std::uint32_t style = 0;
    std::string caption;
    std::vector<std::intptr_t> extra;
    std::intptr_t userData = 0;
    WParam font = 0;                       // WM_SETFONT's handle
    WndProc proc = nullptr;
    std::map<std::uintptr_t, int> timers;  // caller's id -> Qt timer id
    bool dead = false;                     // unregistered, awaiting deletion
    int busy = 0;                          // procedure calls in progress

    LResult dispatch(std::uint32_t msg, WParam wp, LParam lp);

protected:
    bool event(QEvent* e) override;
    void timerEvent(QTimerEvent* e) override;
};

struct Registry {
    std::mutex m;
    std::unordered_map<Hwnd, Window*> windows;
    std::unordered_map<std::string, WndClass> classes;
    Hwnd next = 0x10000;
};

Registry& reg()
{
    static Registry r;
    return r;
}

Window* find(Hwnd h)
{
    std::lock_guard<std::mutex> lock(reg().m);
    auto it = reg().windows.find(h);
    return it == reg().windows.end() ? nullptr : it->second;
}

// Looks a window up for a call; sets the error for a bad handle.
Window* lookup(Hwnd h)
{
    Window* w = find(h);
    if (!w)
        t_lastError = ERROR_INVALID_WINDOW_HANDLE;
    return w;
}

// Deletion waits until no procedure call on the window is running, so a
// procedure may destroy its own window and return normally.
void releaseIfIdle(Window* w)
{
    if (w->dead && w->busy == 0)
        delete w;
}

LResult Window::dispatch(std::uint32_t msg, WParam wp, LParam lp)
{
    if (dead || !proc)
        return 0;
    ++busy;
    const LResult r = proc(handle, msg, wp, lp);
    --busy;
    releaseIfIdle(this);  // may delete this
    return r;
}

bool Window::event(QEvent* e)
{
    if (e->type() == kPostedType) {
        auto* p = static_cast<PostedEvent*>(e);
        dispatch(p->msg, p->wp, p->lp);
        return true;
    }
    if (e->type() == kSentType) {
        auto* s = static_cast<SentEvent*>(e);
        const LResult r = dispatch(s->msg, s->wp, s->lp);
        s->finish(r);
        return true;
    }
    return QObject::event(e);
}

void Window::timerEvent(QTimerEvent* e)
{
    for (const auto& [callerId, qtId] : timers) {
        if (qtId == e->timerId()) {
            dispatch(WM_TIMER, callerId, 0);
            return;
        }
    }
}

// Deleting a QObject or changing its timers is only safe on its own thread.
bool ownedHere(Window* w)
{
    if (w->thread() == QThread::currentThread())
        return true;
    t_lastError = ERROR_ACCESS_DENIED;
    return false;
}

std::intptr_t* wordAt(Window* w, int index)
{
    if (index == GWLP_USERDATA)
        return &w->userData;
    // Extra words are addressed by byte offset, as the window system does.
    constexpr int size = static_cast<int>(sizeof(std::intptr_t));
    if (index < 0 || index % size != 0 || index / size >= static_cast<int>(w->extra.size()))
        return nullptr;
    return &w->extra[static_cast<std::size_t>(index / size)];
}

}  // namespace

bool registerClass(const WndClass& cls)
{
    std::lock_guard<std::mutex> lock(reg().m);
    if (cls.name.empty() || !cls.proc || reg().classes.count(cls.name)) {
        t_lastError = ERROR_CLASS_ALREADY_EXISTS;
        return false;
    }
    reg().classes[cls.name] = cls;
    return true;
}

bool unregisterClass(const std::string& name)
{
    std::lock_guard<std::mutex> lock(reg().m);
    if (reg().classes.erase(name) == 0) {
        t_lastError = ERROR_CANNOT_FIND_WND_CLASS;
        return false;
    }
    return true;
}

bool isClassRegistered(const std::string& name)
{
    std::lock_guard<std::mutex> lock(reg().m);
    return reg().classes.count(name) != 0;
}

Hwnd createWindow(const std::string& className, const std::string& caption, std::uint32_t style,
                  Hwnd parent, int id, void* createParams)
{
    auto* w = new Window;
    {
        std::lock_guard<std::mutex> lock(reg().m);
        auto it = reg().classes.find(className);
        if (it == reg().classes.end()) {
            delete w;
            t_lastError = ERROR_CANNOT_FIND_WND_CLASS;
            return 0;
        }
        if (parent && !reg().windows.count(parent)) {
            delete w;
            t_lastError = ERROR_INVALID_WINDOW_HANDLE;
            return 0;
        }
        w->className = className;
        w->proc = it->second.proc;
        w->extra.assign(static_cast<std::size_t>(std::max(0, it->second.extraWords)), 0);
        w->handle = reg().next++;
        reg().windows[w->handle] = w;
    }
    w->caption = caption;
    w->style = style;
    w->parent = parent;
    w->id = id;

    const Hwnd h = w->handle;
    CreateStruct cs{createParams, parent, id, style, caption.c_str(), className.c_str()};
    const LResult r = w->dispatch(WM_CREATE, 0, reinterpret_cast<LParam>(&cs));
    if (!isWindow(h))
        return 0;  // the procedure destroyed it during creation
    if (r == -1) {
        // Refused: the window never existed for anyone else, so it goes
        // without WM_DESTROY.
        std::lock_guard<std::mutex> lock(reg().m);
        reg().windows.erase(h);
        w->dead = true;
    }
    if (w->dead) {
        for (const auto& t : w->timers)
            w->killTimer(t.second);
        w->timers.clear();
        releaseIfIdle(w);
        return 0;
    }
    return h;
}

bool destroyWindow(Hwnd hwnd)
{
    Window* w = lookup(hwnd);
    if (!w || w->dead || !ownedHere(w))
        return false;

    std::vector<Hwnd> children;
    {
        std::lock_guard<std::mutex> lock(reg().m);
        for (const auto& [h, c] : reg().windows)
            if (c->parent == hwnd)
                children.push_back(h);
    }
    for (Hwnd c : children)
        destroyWindow(c);

    // The procedure may destroy the window itself inside WM_DESTROY.
    w->dispatch(WM_DESTROY, 0, 0);
    w = find(hwnd);
    if (!w)
        return true;

    for (const auto& t : w->timers)
        w->killTimer(t.second);
    w->timers.clear();
    {
        // Once unregistered under the lock no thread can post to it again.
        std::lock_guard<std::mutex> lock(reg().m);
        reg().windows.erase(hwnd);
        w->dead = true;
    }
    QCoreApplication::removePostedEvents(w, kPostedType);
    QCoreApplication::removePostedEvents(w, kSentType);  // wakes waiting senders
    releaseIfIdle(w);
    return true;
}

bool isWindow(Hwnd hwnd)
{
    return hwnd != 0 && find(hwnd) != nullptr;
}

Hwnd getParent(Hwnd hwnd)
{
    Window* w = lookup(hwnd);
    return w ? w->parent : 0;
}

int getDlgCtrlId(Hwnd hwnd)
{
    Window* w = lookup(hwnd);
    return w ? w->id : 0;
}

std::uint32_t getWindowStyle(Hwnd hwnd)
{
    Window* w = lookup(hwnd);
    return w ? w->style : 0;
}

std::string getClassName(Hwnd hwnd)
{
    Window* w = lookup(hwnd);
    return w ? w->className : std::string();
}

std::string getWindowCaption(Hwnd hwnd)
{
    Window* w = lookup(hwnd);
    return w ? w->caption : std::string();
}

bool setWindowText(Hwnd hwnd, const std::string& text)
{
    if (!lookup(hwnd))
        return false;
    return sendMessage(hwnd, WM_SETTEXT, 0, reinterpret_cast<LParam>(text.c_str())) != 0;
}

bool enableWindow(Hwnd hwnd, bool enable)
{
    Window* w = lookup(hwnd);
    if (!w)
        return false;
    const bool wasDisabled = (w->style & WS_DISABLED) != 0;
    if (wasDisabled == enable) {
        w->style = enable ? (w->style & ~WS_DISABLED) : (w->style | WS_DISABLED);
        sendMessage(hwnd, WM_ENABLE, enable ? 1 : 0, 0);
    }
    return wasDisabled;
}

bool isWindowEnabled(Hwnd hwnd)
{
    Window* w = lookup(hwnd);
    return w && !(w->style & WS_DISABLED);
}

std::intptr_t getWindowLongPtr(Hwnd hwnd, int index)
{
    Window* w = lookup(hwnd);
    if (!w)
        return 0;
    std::intptr_t* p = wordAt(w, index);
    if (!p) {
        t_lastError = ERROR_INVALID_WINDOW_HANDLE;
        return 0;
    }
    return *p;
}

std::intptr_t setWindowLongPtr(Hwnd hwnd, int index, std::intptr_t value)
{
    Window* w = lookup(hwnd);
    if (!w)
        return 0;
    std::intptr_t* p = wordAt(w, index);
    if (!p) {
        t_lastError = ERROR_INVALID_WINDOW_HANDLE;
        return 0;
    }
    const std::intptr_t old = *p;
    *p = value;
    return old;
}

LResult sendMessage(Hwnd hwnd, std::uint32_t msg, WParam wParam, LParam lParam)
{
    std::shared_ptr<SendState> state;
    {
        std::lock_guard<std::mutex> lock(reg().m);
        auto it = reg().windows.find(hwnd);
        if (it == reg().windows.end()) {
            t_lastError = ERROR_INVALID_WINDOW_HANDLE;
            return 0;
        }
        Window* w = it->second;
        if (w->thread() != QThread::currentThread()) {
            state = std::make_shared<SendState>();
            QCoreApplication::postEvent(w, new SentEvent(state, msg, wParam, lParam),
                                        Qt::HighEventPriority);
        }
    }
    if (!state) {
        // Same thread: only this thread can delete the window, so the pointer
        // stays valid until the call below starts.
        Window* w = find(hwnd);
        return w ? w->dispatch(msg, wParam, lParam) : 0;
    }
    std::unique_lock<std::mutex> lock(state->m);
    state->cv.wait(lock, [&] { return state->done; });
    return state->result;
}

bool postMessage(Hwnd hwnd, std::uint32_t msg, WParam wParam, LParam lParam)
{
    std::lock_guard<std::mutex> lock(reg().m);
    auto it = reg().windows.find(hwnd);
    if (it == reg().windows.end()) {
        t_lastError = ERROR_INVALID_WINDOW_HANDLE;
        return false;
    }
    QCoreApplication::postEvent(it->second, new PostedEvent(msg, wParam, lParam));
    return true;
}

LResult defWindowProc(Hwnd hwnd, std::uint32_t msg, WParam wParam, LParam lParam)
{
    Window* w = lookup(hwnd);
    if (!w)
        return 0;
    switch (msg) {
    case WM_SETTEXT:
        w->caption = lParam ? reinterpret_cast<const char*>(lParam) : "";
        return 1;
    case WM_GETTEXT: {
        auto* buf = reinterpret_cast<char*>(lParam);
        if (!buf || wParam == 0)
            return 0;
        const std::size_t n = std::min<std::size_t>(w->caption.size(), wParam - 1);
        std::memcpy(buf, w->caption.data(), n);
        buf[n] = '\0';
        return static_cast<LResult>(n);
    }
    case WM_GETTEXTLENGTH:
        return static_cast<LResult>(w->caption.size());
    case WM_SETFONT:
        w->font = wParam;
        return 0;
    case WM_GETFONT:
        return static_cast<LResult>(w->font);
    case WM_CLOSE:
        destroyWindow(hwnd);
        return 0;
    default:
        return 0;
    }
}

void postQuitMessage(int exitCode)
{
    t_quitPending = true;
    t_quitCode = exitCode;
    QCoreApplication::exit(exitCode);
}

std::uintptr_t setTimer(Hwnd hwnd, std::uintptr_t id, std::uint32_t ms)
{
    Window* w = lookup(hwnd);
    if (!w || w->dead || !ownedHere(w))
        return 0;
    auto it = w->timers.find(id);
    if (it != w->timers.end()) {
        w->killTimer(it->second);
        w->timers.erase(it);
    }
    const int qtId = w->startTimer(static_cast<int>(std::max<std::uint32_t>(ms, 1)),
                                   Qt::PreciseTimer);
    if (qtId == 0)
        return 0;
    w->timers[id] = qtId;
    return id;
}

bool killTimer(Hwnd hwnd, std::uintptr_t id)
{
    Window* w = lookup(hwnd);
    if (!w || !ownedHere(w))
        return false;
    auto it = w->timers.find(id);
    if (it == w->timers.end())
        return false;
    w->killTimer(it->second);
    w->timers.erase(it);
    return true;
}

bool pumpMessages(int* exitCode)
{
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    QCoreApplication::sendPostedEvents();
    if (t_quitPending) {
        t_quitPending = false;
        if (exitCode)
            *exitCode = t_quitCode;
        return false;
    }
    return true;
}

std::uint32_t tickCount()
{
    using namespace std::chrono;
    const auto ms = duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
    return static_cast<std::uint32_t>(ms);
}

void sleepMs(std::uint32_t ms)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

std::uint32_t getLastError()
{
    return t_lastError;
}

void setLastError(std::uint32_t code)
{
    t_lastError = code;
}

}  // namespace win
