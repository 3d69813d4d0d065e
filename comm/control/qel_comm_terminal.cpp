// The terminal members of the control over the object's terminal: each one
// keeps its stored copy (what the apply step pushes and a save writes) and
// drives the terminal through the flat interface.
#include "qel_comm.h"

#include "control_access.h"
#include "qelcomm_terminal.h"
#include "terminal_registry.h"

#include <functional>
#include <tuple>
#include <vector>

namespace qelcomm::control {
namespace {

using lt::automation::DispatchTable;
using lt::automation::Variant;
namespace M = MemberId;

ErrorInfo typeMismatch()
{
    return ErrorInfo{lt::automation::kTypeMismatch, 13, "Type mismatch", kProgId};
}

bool storedBool(const CQelComm& c, std::int32_t id) { return c.StoredProperty(id).toBool(); }

// The four AutoScroll switches as the terminal's automatic-scroll value:
// 0 never, 1 rows, 2 columns, 3 both, 4 rows and, after keys, columns.
std::int32_t autoScrollValue(const CQelComm& c)
{
    if (!storedBool(c, M::AutoScroll))
        return 0;
    const bool rows = storedBool(c, M::AutoScrollRow);
    const bool columns = storedBool(c, M::AutoScrollColumn);
    const bool keys = storedBool(c, M::AutoScrollKeyboard);
    if (rows && columns)
        return 3;
    if (rows)
        return keys ? 4 : 1;
    return columns ? 2 : 0;
}

std::string textOf(QcHandle o, std::int32_t (*read)(QcHandle, char*, std::int32_t))
{
    std::vector<char> buffer(65536);
    const std::int32_t n = read(o, buffer.data(), std::int32_t(buffer.size()));
    return std::string(buffer.data(), std::size_t(n > 0 ? n : 0));
}

}  // namespace

std::int32_t ControlAccess::autoScrollValue(const CQelComm& c) { return qelcomm::control::autoScrollValue(c); }

void ControlAccess::releaseTerminal(CQelComm& c)
{
    terminal::releaseTerminal(c.m_hObject);
}

void ControlAccess::bindTerminal(CQelComm& c)
{
    CQelComm* p = &c;
    DispatchTable& t = c.m_dispatch;

    // An integer member: stored, then handed to the engine.
    auto integer = [p, &t](std::int32_t id, const char* name, std::function<std::int32_t(QcHandle)> get,
                           std::function<void(QcHandle, std::int32_t)> set) {
        t.addProperty(id, name, [p, get] { return Variant(get(p->m_hObject)); },
                      [p, id, set](const Variant& v) {
                          const auto i = v.toInt32();
                          if (!i)
                              return typeMismatch();
                          p->m_stored[id] = Variant(*i);
                          set(p->m_hObject, *i);
                          if (id == M::Columns || id == M::Emulation)
                              p->notifyChanged(id);
                          return p->ok();
                      });
    };
    integer(M::AutoSize, "AutoSize", ::GetAutoSize, ::SetAutoSize);
    integer(M::BackSpace, "BackSpace", ::GetBackspace, ::SetBackspace);
    integer(M::CaptureMode, "CaptureMode", ::GetCaptureMode, ::SetCaptureMode);
    integer(M::ColorFilter, "ColorFilter", ::GetColorFilter, ::SetColorFilter);
    integer(M::Columns, "Columns", ::GetColumns, [](QcHandle o, std::int32_t n) { ::SetColumns(o, n); });
    integer(M::Rows, "Rows", ::GetRows, [](QcHandle o, std::int32_t n) { ::SetRows(o, n); });
    integer(M::CursorColumn, "CursorColumn", ::GetCursorColumn, ::SetCursorColumn);
    integer(M::CursorRow, "CursorRow", ::GetCursorRow, ::SetCursorRow);
    integer(M::Emulation, "Emulation", ::GetEmulation, ::SetEmulation);
    integer(M::EndOfLineMode, "EndOfLineMode", ::GetEndOfLineMode, ::SetEndOfLineMode);
    integer(M::CharacterSet, "CharacterSet", ::GetCharacterSet, ::SetCharacterSet);
    integer(M::Rendition, "Rendition", ::GetRendition, ::SetRendition);
    integer(M::ScrollRows, "ScrollRows", ::GetScrollRows, [](QcHandle o, std::int32_t n) { ::SetScrollRows(o, n); });
    integer(M::SelStart, "SelStart", ::GetSelectionStart, [](QcHandle o, std::int32_t n) { ::SetSelectionStart(o, n); });
    integer(M::SelLength, "SelLength", ::GetSelectionLength,
            [](QcHandle o, std::int32_t n) { ::SetSelectionLength(o, n); });
    // The colour attribute: foreground in the low nibble, background in the high one.
    integer(M::ForeColor, "ForeColor", [](QcHandle o) { return ::GetColor(o) & 15; },
            [](QcHandle o, std::int32_t v) { ::SetColor(o, (::GetColor(o) & 0xF0) | (v & 15)); });
    integer(M::BackColor, "BackColor", [](QcHandle o) { return (::GetColor(o) >> 4) & 15; },
            [](QcHandle o, std::int32_t v) { ::SetColor(o, ((v & 15) << 4) | (::GetColor(o) & 15)); });

    for (auto [id, name] : {std::pair{M::AutoScroll, "AutoScroll"}, {M::AutoScrollColumn, "AutoScrollColumn"},
                            {M::AutoScrollKeyboard, "AutoScrollKeyboard"}, {M::AutoScrollRow, "AutoScrollRow"}})
        t.addProperty(id, name, [p, id = id] { return Variant::fromBool(p->StoredProperty(id).toBool()); },
                      [p, id = id](const Variant& v) {
                          p->m_stored[id] = Variant::fromBool(v.toBool());
                          ::SetAutoScroll(p->m_hObject, autoScrollValue(*p));
                          return p->ok();
                      });

    t.addProperty(M::CaptureFilename, "CaptureFilename",
                  [p] { return Variant(p->StoredProperty(M::CaptureFilename).toString()); },
                  [p](const Variant& v) {
                      p->m_stored[M::CaptureFilename] = Variant(v.toString());
                      ::SetCaptureFilename(p->m_hObject, v.toString().c_str());
                      return p->ok();
                  });
    t.addProperty(M::Contents, "Contents", [p] { return Variant(textOf(p->m_hObject, ::GetContents)); },
                  [p](const Variant& v) {
                      const std::string s = v.toString();
                      ::SetContents(p->m_hObject, s.data(), std::int32_t(s.size()));
                      return p->ok();
                  });
    t.addProperty(M::ScrollContents, "ScrollContents",
                  [p] { return Variant(textOf(p->m_hObject, ::GetScrollContents)); });
    t.addProperty(M::SelText, "SelText", [p] { return Variant(textOf(p->m_hObject, ::GetSelectionText)); });

    // Display shows the text as received bytes are shown; DisplayLine adds CR LF.
    for (auto [id, name, eol] : {std::tuple{M::Display, "Display", ""}, {M::DisplayLine, "DisplayLine", "\r\n"}})
        t.addCheckedProperty(id, name, {}, [p, eol = std::string(eol)](const Variant& v) {
            const std::string s = v.toString() + eol;
            ::TerminalWrite(p->m_hObject, s.data(), std::int32_t(s.size()));
            return p->ok();
        });
}

}  // namespace qelcomm::control
