// The terminal of each comm object and the terminal members of the flat
// interface. Built into the engine library: the engine's display seam ends
// here, and answers leave through the engine's write path.
#include "qelcomm_terminal.h"

#include "comm_object.h"
#include "terminal_registry.h"

#include <QClipboard>
#include <QGuiApplication>

#include <algorithm>
#include <cstring>
#include <map>

namespace qelcomm::terminal {
namespace {

struct Entry {
    std::shared_ptr<Terminal> terminal;
    std::string answers;  // queued while a write runs, sent after it
};

std::map<QcHandle, Entry>& registry()
{
    static std::map<QcHandle, Entry> r;
    return r;
}

// Terminals of objects that no longer exist; handles are never reused.
void purge()
{
    auto& r = registry();
    for (auto it = r.begin(); it != r.end();)
        it = isObject(it->first) ? std::next(it) : r.erase(it);
}

void syncRecord(CommObjectData* d, const Terminal& t)
{
    d->columns = t.columns();
    d->rows = t.rows();
    d->colorAttribute = t.color();
}

Entry* entryOf(QcHandle object)
{
    CommObjectData* d = resolve(object);
    if (!d)
        return nullptr;
    auto& r = registry();
    auto it = r.find(object);
    if (it != r.end())
        return &it->second;
    purge();
    Entry& e = r[object];
    e.terminal = std::make_shared<Terminal>();
    Terminal& t = *e.terminal;
    t.resize(d->columns, d->rows);
    t.setColor(std::uint8_t(d->colorAttribute));
    t.setTranslationTable(d->translation.data());
    t.host.answer = [object](const std::uint8_t* b, std::size_t n) {
        auto found = registry().find(object);
        if (found != registry().end())
            found->second.answers.append(reinterpret_cast<const char*>(b), n);
    };
    t.host.setEcho = [object](bool on) {
        if (CommObjectData* rec = resolve(object))
            rec->echo = on ? -1 : 0;
    };
    t.host.postRepaint = [object] { win::postMessage(object, kRepaintMessage, 0, 0); };
    return &e;
}

// Answers go to the port without echo; the line-error check after them
// may deliver events, so the object is looked up again afterwards.
void flushAnswers(QcHandle object)
{
    auto it = registry().find(object);
    if (it == registry().end() || it->second.answers.empty())
        return;
    std::string a;
    a.swap(it->second.answers);
    CommObjectData* d = resolve(object);
    if (!d || !d->portOpen)
        return;
    WriteBytes(object, reinterpret_cast<const std::uint8_t*>(a.data()), std::uint32_t(a.size()));
    CheckLineErrors(object);
}

template <typename F>
void withTerminal(QcHandle object, F f)
{
    if (Entry* e = entryOf(object)) {
        std::shared_ptr<Terminal> keep = e->terminal;
        f(*keep);
        if (CommObjectData* d = resolve(object))
            syncRecord(d, *keep);
    }
}

template <typename R, typename F>
R readTerminal(QcHandle object, F f)
{
    Entry* e = entryOf(object);
    return e ? R(f(*e->terminal)) : R{};
}

std::int32_t copyText(const std::string& text, char* buffer)
{
    if (buffer) {
        std::memcpy(buffer, text.data(), text.size());
        buffer[text.size()] = 0;
    }
    return std::int32_t(std::uint16_t(text.size()));
}

std::size_t bufferSize(std::int32_t size) { return size <= 0 ? 0 : std::size_t(std::min(size, 65535)); }

}  // namespace

std::shared_ptr<Terminal> terminalOf(QcHandle object)
{
    Entry* e = entryOf(object);
    return e ? e->terminal : nullptr;
}

void releaseTerminal(QcHandle object)
{
    registry().erase(object);
}

bool fitScreen(QcHandle object, int columns, int rows)
{
    bool done = false;
    withTerminal(object, [&](Terminal& t) { done = t.fit(columns, rows); });
    return done;
}

void displayBytes(CommObjectData* d, const std::uint8_t* bytes, std::uint32_t n)
{
    if (!d || n == 0)
        return;
    const QcHandle object = d->window;
    withTerminal(object, [&](Terminal& t) {
        t.setTranslationTable(d->translation.data());
        t.write(bytes, n);
    });
    flushAnswers(object);
}

bool keyboardSendEnabled(QcHandle object)
{
    CommObjectData* d = resolve(object);
    return d && (d->autoProcess & AutoProcess_Send);
}

bool sendKey(QcHandle object, Key key, bool ctrl)
{
    std::shared_ptr<Terminal> t = terminalOf(object);
    if (!t || !keyboardSendEnabled(object))
        return false;
    const KeyAction a = keyAction(key, ctrl, t->emulation(), t->keypadFlag());
    if (a.kind == KeyAction::ScrollPageUp || a.kind == KeyAction::ScrollPageDown) {
        const int page = std::max(1, t->rows() - 1);
        t->setViewOrigin(t->viewTop() + (a.kind == KeyAction::ScrollPageUp ? -page : page), t->viewLeft());
        return false;
    }
    if (a.kind != KeyAction::Send)
        return false;
    KeyboardSend(object, reinterpret_cast<const std::uint8_t*>(a.bytes.data()), std::uint32_t(a.bytes.size()));
    if (resolve(object))
        t->followCursor(true);
    return true;
}

bool sendTyped(QcHandle object, const std::string& text)
{
    std::shared_ptr<Terminal> t = terminalOf(object);
    if (!t || !keyboardSendEnabled(object) || text.empty())
        return false;
    for (char c : text) {
        const auto byte = std::uint8_t(c);
        if (!KeyboardSend(object, &byte, 1) && !resolve(object))
            return true;
    }
    if (resolve(object))
        t->followCursor(true);
    return true;
}

}  // namespace qelcomm::terminal

using namespace qelcomm;
using namespace qelcomm::terminal;

QELCOMM_API void TerminalWrite(QcHandle object, const void* bytes, std::int32_t n)
{
    if (CommObjectData* d = resolve(object); d && bytes && n > 0)
        displayBytes(d, static_cast<const std::uint8_t*>(bytes), std::uint32_t(n));
}

QELCOMM_API void TerminalPrintString(QcHandle object, const char* text)
{
    if (CommObjectData* d = resolve(object); d && text)
        displayBytes(d, reinterpret_cast<const std::uint8_t*>(text), std::uint32_t(std::strlen(text)));
}

QELCOMM_CPP_API void qelbasPrint(QcHandle object, const char* text) { TerminalPrintString(object, text); }

QELCOMM_CPP_API void qelbasColor(QcHandle object, std::int32_t foreground, std::int32_t background)
{
    SetColor(object, (background & 15) * 16 + (foreground & 15));
}

QELCOMM_CPP_API void qelbasClearScreen(QcHandle object) { TerminalPrintString(object, "\f"); }

QELCOMM_API void SetEmulation(QcHandle object, std::int32_t e)
{
    withTerminal(object, [e](Terminal& t) { t.setEmulation(e); });
}
QELCOMM_API std::int32_t GetEmulation(QcHandle object)
{
    return readTerminal<std::int32_t>(object, [](Terminal& t) { return t.emulation(); });
}

QELCOMM_API std::int32_t SetColumns(QcHandle object, std::int32_t n)
{
    std::int32_t ok = 0;
    withTerminal(object, [&](Terminal& t) { ok = t.setColumns(n) ? 1 : 0; });
    return ok;
}
QELCOMM_API std::int32_t GetColumns(QcHandle object)
{
    return readTerminal<std::int32_t>(object, [](Terminal& t) { return t.columns(); });
}
QELCOMM_API std::int32_t SetRows(QcHandle object, std::int32_t n)
{
    std::int32_t ok = 0;
    withTerminal(object, [&](Terminal& t) { ok = t.setRows(n) ? 1 : 0; });
    return ok;
}
QELCOMM_API std::int32_t GetRows(QcHandle object)
{
    return readTerminal<std::int32_t>(object, [](Terminal& t) { return t.rows(); });
}

// Plain value pairs of the terminal.
#define QELTERM_PAIR(Name, setter, getter)                                                \
    QELCOMM_API void Set##Name(QcHandle object, std::int32_t v)                           \
    {                                                                                     \
        withTerminal(object, [v](Terminal& t) { t.setter(v); });                          \
    }                                                                                     \
    QELCOMM_API std::int32_t Get##Name(QcHandle object)                                   \
    {                                                                                     \
        return readTerminal<std::int32_t>(object, [](Terminal& t) { return t.getter(); }); \
    }

QELTERM_PAIR(EndOfLineMode, setEndOfLineMode, endOfLineMode)
QELTERM_PAIR(Backspace, setBackspace, backspace)
QELTERM_PAIR(CursorRow, setCursorRow, cursorRow)
QELTERM_PAIR(CursorColumn, setCursorColumn, cursorColumn)
QELTERM_PAIR(AutoSize, setAutoSize, autoSize)
QELTERM_PAIR(AutoScroll, setAutoScroll, autoScroll)
QELTERM_PAIR(CharacterSet, setCharacterSet, characterSet)
QELTERM_PAIR(Rendition, setRendition, rendition)
#undef QELTERM_PAIR

QELCOMM_API void SetColor(QcHandle object, std::int32_t a)
{
    withTerminal(object, [a](Terminal& t) { t.setColor(std::uint8_t(a)); });
}
QELCOMM_API std::int32_t GetColor(QcHandle object)
{
    return readTerminal<std::int32_t>(object, [](Terminal& t) { return t.color(); });
}

QELCOMM_API void SetColorFilter(QcHandle object, std::int32_t f)
{
    withTerminal(object, [f](Terminal& t) {
        t.setColorFilter(f);
        if (t.host.repaintNow)
            t.host.repaintNow();
    });
}
QELCOMM_API std::int32_t GetColorFilter(QcHandle object)
{
    return readTerminal<std::int32_t>(object, [](Terminal& t) { return t.colorFilter(); });
}

QELCOMM_API void SetCaptureMode(QcHandle object, std::int32_t m)
{
    withTerminal(object, [m](Terminal& t) { t.setCaptureMode(m); });
    if (CommObjectData* d = resolve(object))
        ArmPollTimer(d);
}
QELCOMM_API std::int32_t GetCaptureMode(QcHandle object)
{
    return readTerminal<std::int32_t>(object, [](Terminal& t) { return t.captureMode(); });
}

QELCOMM_API std::int32_t SetCaptureFilename(QcHandle object, const char* name)
{
    std::int32_t ok = 0;
    withTerminal(object, [&](Terminal& t) { ok = t.setCaptureFilename(name ? name : "") ? 1 : 0; });
    return ok;
}

QELCOMM_CPP_API void SetTranslationTable(QcHandle object, const std::uint8_t* table)
{
    CommObjectData* d = resolve(object);
    if (!d || !table)
        return;
    std::memcpy(d->translation.data(), table, 256);
    withTerminal(object, [table](Terminal& t) { t.setTranslationTable(table); });
}
QELCOMM_CPP_API void GetTranslationTable(QcHandle object, std::uint8_t* table)
{
    if (CommObjectData* d = resolve(object); d && table)
        std::memcpy(table, d->translation.data(), 256);
}

QELCOMM_API std::int32_t SetScrollRows(QcHandle object, std::int32_t n)
{
    std::int32_t r = 0;
    withTerminal(object, [&](Terminal& t) { r = t.setScrollRows(n); });
    return r;
}
QELCOMM_API std::int32_t GetScrollRows(QcHandle object)
{
    return readTerminal<std::int32_t>(object, [](Terminal& t) { return t.scrollRows(); });
}

QELCOMM_API std::int32_t GetContents(QcHandle object, char* buffer, std::int32_t size)
{
    if (!buffer || size <= 0)
        return 0;
    return readTerminal<std::int32_t>(object, [&](Terminal& t) { return copyText(t.contents(bufferSize(size)), buffer); });
}
QELCOMM_API std::int32_t GetContentsLength(QcHandle object)
{
    return readTerminal<std::int32_t>(object, [](Terminal& t) { return std::uint16_t(t.contents().size()); });
}
QELCOMM_API std::int32_t GetScrollContents(QcHandle object, char* buffer, std::int32_t size)
{
    if (!buffer || size <= 0)
        return 0;
    return readTerminal<std::int32_t>(object,
                                      [&](Terminal& t) { return copyText(t.scrollContents(bufferSize(size)), buffer); });
}
QELCOMM_API std::int32_t GetScrollContentsLength(QcHandle object)
{
    return readTerminal<std::int32_t>(object, [](Terminal& t) { return std::uint16_t(t.scrollContents().size()); });
}

QELCOMM_API void SetContents(QcHandle object, const void* bytes, std::int32_t n)
{
    CommObjectData* d = resolve(object);
    if (!d)
        return;
    const std::uint8_t ff = 12;
    displayBytes(d, &ff, 1);
    if ((d = resolve(object)) && bytes && n > 0)
        displayBytes(d, static_cast<const std::uint8_t*>(bytes), std::uint32_t(n));
}

QELCOMM_API std::int32_t SetSelectionStart(QcHandle object, std::int32_t i)
{
    return readTerminal<std::int32_t>(object, [i](Terminal& t) { return t.setSelectionStart(i); });
}
QELCOMM_API std::int32_t GetSelectionStart(QcHandle object)
{
    return readTerminal<std::int32_t>(object, [](Terminal& t) { return t.selectionStart(); });
}
QELCOMM_API std::int32_t SetSelectionLength(QcHandle object, std::int32_t n)
{
    return readTerminal<std::int32_t>(object, [n](Terminal& t) { return t.setSelectionLength(n); });
}
QELCOMM_API std::int32_t GetSelectionLength(QcHandle object)
{
    return readTerminal<std::int32_t>(object, [](Terminal& t) { return t.selectionLength(); });
}
QELCOMM_API std::int32_t GetSelectionText(QcHandle object, char* buffer, std::int32_t size)
{
    if (!buffer || size <= 0)
        return 0;
    return readTerminal<std::int32_t>(object,
                                      [&](Terminal& t) { return copyText(t.selectionText(bufferSize(size)), buffer); });
}

// The clipboard needs a GUI application; without one the copy fails.
QELCOMM_API std::int32_t CopySelectionToClipboard(QcHandle object)
{
    std::shared_ptr<Terminal> t = terminalOf(object);
    if (!t || !qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        return 0;
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (!clipboard)
        return 0;
    // A cell's character takes up to 4 bytes in UTF-8.
    const std::size_t cellBytes = t->utf8() ? 4 : 1;
    const std::size_t size = std::size_t(std::max(0, t->selectedRows())) * (std::size_t(t->columns()) * cellBytes + 2) + 1;
    const std::string text = t->selectionText(size);
    clipboard->setText(t->utf8() ? QString::fromUtf8(text.data(), qsizetype(text.size()))
                                 : QString::fromLatin1(text.data(), qsizetype(text.size())));
    return 1;
}

// Whether the view shows its scroll bars.
QELCOMM_API void SetHScrollBar(QcHandle object, std::int32_t flag)
{
    withTerminal(object, [flag](Terminal& t) { t.setScrollBars(flag != 0, t.verticalScrollBar()); });
}
QELCOMM_API void SetVScrollBar(QcHandle object, std::int32_t flag)
{
    withTerminal(object, [flag](Terminal& t) { t.setScrollBars(t.horizontalScrollBar(), flag != 0); });
}

QELCOMM_API void PaintCommWindow(QcHandle object)
{
    if (std::shared_ptr<Terminal> t = terminalOf(object); t && t->host.repaintNow)
        t->host.repaintNow();
}
