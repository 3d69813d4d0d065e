// The control's part of the CommSpy trace: the six switches, one line per
// property read or write made through the member table, and one line per
// traced event. The engine writes the lines of reads and writes on the port.
#include "qel_comm.h"

#include "comm_spy.h"
#include "control_access.h"

#include <cstdlib>

namespace qelcomm::control {
namespace {

using Access = lt::automation::DispatchTable::Access;
using lt::automation::Args;
using lt::automation::DispatchTable;
using lt::automation::Variant;
namespace M = MemberId;

}  // namespace

// --- The switches. Every write hands the input and output switches to the
// comm object, whose read and write paths test them.

namespace {
void pushDataSwitches(QcHandle o, std::int32_t input, std::int32_t output)
{
    ::SetCommSpyInput(o, input);
    ::SetCommSpyOutput(o, output);
}
}  // namespace

ErrorInfo CQelComm::SetCommSpy(bool on)
{
    m_spy = on ? 1 : 0;
    pushDataSwitches(m_hObject, m_spyInput, m_spyOutput);
    notifyChanged(MemberId::CommSpy);
    return ok();
}

ErrorInfo CQelComm::SetCommSpyEvents(bool on)
{
    m_spyEvents = on ? 1 : 0;
    pushDataSwitches(m_hObject, m_spyInput, m_spyOutput);
    return ok();
}

ErrorInfo CQelComm::SetCommSpyProperties(bool on)
{
    m_spyProperties = on ? 1 : 0;
    pushDataSwitches(m_hObject, m_spyInput, m_spyOutput);
    return ok();
}

ErrorInfo CQelComm::SetCommSpyWarnings(bool on)
{
    m_spyWarnings = on ? 1 : 0;   // kept and persisted; nothing is logged under it
    pushDataSwitches(m_hObject, m_spyInput, m_spyOutput);
    return ok();
}

ErrorInfo CQelComm::SetCommSpyInput(bool on)
{
    m_spyInput = on ? 1 : 0;
    pushDataSwitches(m_hObject, m_spyInput, m_spyOutput);
    return ok();
}

ErrorInfo CQelComm::SetCommSpyOutput(bool on)
{
    m_spyOutput = on ? 1 : 0;
    pushDataSwitches(m_hObject, m_spyInput, m_spyOutput);
    return ok();
}

// --- Lines.

namespace {

// Property and event lines share their conditions beside their own switch:
// the master switch, not loading or saving, run mode and a name to write.
bool tracing(const CQelComm& c, bool own, std::int32_t loadDepth, bool userMode)
{
    return c.CommSpy() && own && loadDepth <= 0 && userMode && !c.ObjectName().empty();
}

void traceProperty(QcHandle o, const std::string& object, const std::string& name, Access access,
                   const Variant& value)
{
    std::string text = object + "." + name + (access == Access::Read ? " returns " : " = ");
    switch (value.type()) {
    case Variant::Type::String: CommSpyMsg(o, CommSpy_Properties, text.c_str(), value.toString()); return;
    case Variant::Type::Bool: text += value.toBool() ? "True" : "False"; break;
    default: text += std::to_string(value.toInt32().value_or(0)); break;
    }
    CommSpyMsg(o, CommSpy_Properties, text.c_str(), nullptr, 0);
}

// ComInput, ComLineInput and CommID are other names of Input, LineInput
// and CommHandle, and are traced under those.
std::string tracedName(std::int32_t dispid, const std::string& name)
{
    switch (dispid) {
    case M::ComInput: return "Input";
    case M::ComLineInput: return "LineInput";
    case M::CommID: return "CommHandle";
    default: return name;
    }
}

// Writes that change nothing leave no line: an OutTimeOut below 0 (ignored),
// an Output or OutputLine that wrote nothing because the port is closed or
// another blocking member runs.
bool untraced(std::int32_t dispid, Access access, const Variant& value, bool writeUntraced)
{
    if (access != Access::Write)
        return false;
    if (dispid == M::OutTimeOut)
        return value.toInt32().value_or(0) < 0;
    return (dispid == M::Output || dispid == M::OutputLine) && writeUntraced;
}

std::string numberOf(const Variant* v) { return std::to_string(v ? v->toInt32().value_or(0) : 0); }

// The argument text: the first two arguments of the key and mouse events
// (KeyPress has only one), nothing for the others.
std::string argumentText(std::int32_t dispid, const Args& args)
{
    switch (dispid) {
    case EventId::KeyDown:
    case EventId::KeyUp:
    case EventId::MouseMove:
    case EventId::MouseDown:
    case EventId::MouseUp:
        return numberOf(args.size() > 0 ? args[0] : nullptr) + ", " + numberOf(args.size() > 1 ? args[1] : nullptr);
    case EventId::KeyPress: return numberOf(args.size() > 0 ? args[0] : nullptr);
    default: return "";
    }
}

// The text of an event line: "Comm1_Receive() Event", and for element 2 of
// a control array named "Comm1(2)", "Comm1_Receive(2) Event".
std::string commSpyEventText(const std::string& object, const std::string& event, const std::string& arguments)
{
    const std::size_t open = object.find('(');
    if (open == std::string::npos)
        return object + "_" + event + "(" + arguments + ") Event";
    const long index = std::strtol(object.c_str() + open + 1, nullptr, 10);
    return object.substr(0, open) + "_" + event + "(" + std::to_string(index) +
           (arguments.empty() ? "" : ", " + arguments) + ") Event";
}

}  // namespace

void ControlAccess::traceEvent(CQelComm& c, std::int32_t dispid, const Args& args)
{
    if (!tracing(c, c.m_spyEvents != 0, c.m_loadDepth, c.m_ambientUserMode))
        return;
    const std::string text = commSpyEventText(c.m_objectName, EventName(dispid), argumentText(dispid, args));
    CommSpyMsg(c.m_hObject, CommSpy_Events, text.c_str(), nullptr, 0);
}

void ControlAccess::bindTrace(CQelComm& c)
{
    CQelComm* p = &c;
    DispatchTable& t = c.m_dispatch;

    // The font reads and writes as its face name through the table.
    t.addProperty(M::Font, "Font", [p] { return Variant(p->m_font.name); }, [p](const Variant& v) {
        lt::automation::FontDesc font = p->m_font;
        font.name = v.toString();
        return p->SetFont(font);
    });

    t.setObserver([p](std::int32_t dispid, const std::string& name, Access access, const Variant& value) {
        if (tracing(*p, p->m_spyProperties != 0, p->m_loadDepth, p->m_ambientUserMode) &&
            !untraced(dispid, access, value, p->m_writeUntraced))
            traceProperty(p->m_hObject, p->m_objectName, tracedName(dispid, name), access, value);
    });
    // Pause's line comes before the pause itself.
    t.observeBefore(M::Pause);
}

}  // namespace qelcomm::control
