// The member table: every DISPID and name of the automation interface bound
// to the typed members, plus the members of the terminal view, file transfer
// and modem areas, which keep their value until their subsystems drive them.
#include "qel_comm.h"

#include "control_access.h"

#include <functional>

namespace qelcomm::control {
namespace {

using lt::automation::Args;
using lt::automation::DispatchTable;
using lt::automation::Variant;
namespace M = MemberId;

ErrorInfo typeMismatch()
{
    return ErrorInfo{lt::automation::kTypeMismatch, 13, "Type mismatch", kProgId};
}

// Small binders from typed getters and setters to table entries.
struct Binder {
    DispatchTable& t;

    void boolean(std::int32_t id, const char* name, std::function<bool()> get,
                 std::function<ErrorInfo(bool)> set = {})
    {
        DispatchTable::Setter put;
        if (set)
            put = [set](const Variant& v) { return set(v.toBool()); };
        t.addProperty(id, name, [get] { return Variant::fromBool(get()); }, put);
    }

    void integer(std::int32_t id, const char* name, std::function<std::int32_t()> get,
                 std::function<ErrorInfo(std::int32_t)> set = {})
    {
        DispatchTable::Setter put;
        if (set)
            put = [set](const Variant& v) {
                const auto i = v.toInt32();
                return i ? set(*i) : typeMismatch();
            };
        t.addProperty(id, name, [get] { return Variant(get()); }, put);
    }

    void text(std::int32_t id, const char* name, std::function<std::string()> get,
              std::function<ErrorInfo(const std::string&)> set = {})
    {
        DispatchTable::Setter put;
        if (set)
            put = [set](const Variant& v) { return set(v.toString()); };
        t.addProperty(id, name, [get] { return Variant(get()); }, put);
    }

    // A blocking read that can be refused.
    void checkedText(std::int32_t id, const char* name, std::function<ErrorInfo(std::string&)> read)
    {
        t.addCheckedProperty(id, name, [read](Variant& out) {
            std::string s;
            ErrorInfo e = read(s);
            if (!e.failed())
                out = Variant(std::move(s));
            return e;
        });
    }

    // A member with a write and no read.
    void writeOnly(std::int32_t id, const char* name, DispatchTable::Setter set)
    {
        t.addCheckedProperty(id, name, {}, std::move(set));
    }
};

// The default modem entry: name, init, dial tone, dial pulse, answer and
// hang-up commands.
constexpr const char* kModemTitle = "Hayes Compatible";
constexpr const char* kModemInit = "ATX4E1V1S7=60&C1^M";
constexpr const char* kModemDialTone = "ATDT";
constexpr const char* kModemDialPulse = "ATDP";
constexpr const char* kModemAnswer = "ATS0=2^M";
constexpr const char* kModemHangUp = "~~+++~~ATH0^M";

}  // namespace

void ControlAccess::setStoredDefaults(CQelComm& c)
{
    auto& s = c.m_stored;
    auto b = [](bool v) { return Variant::fromBool(v); };
    auto i = [](std::int32_t v) { return Variant(v); };
    // Terminal view.
    s[M::Font] = Variant("Terminal");
    s[M::BackColor] = i(1);
    s[M::AutoScroll] = b(true);
    s[M::AutoScrollColumn] = b(false);
    s[M::AutoScrollKeyboard] = b(true);
    s[M::AutoScrollRow] = b(true);
    s[M::AutoSize] = i(0);
    s[M::BackSpace] = i(0);
    s[M::CaptureFilename] = Variant("");
    s[M::CaptureMode] = i(0);
    s[M::ColorFilter] = i(0);
    s[M::Columns] = i(80);
    s[M::Contents] = Variant("");
    s[M::CursorColumn] = i(0);
    s[M::CursorRow] = i(0);
    s[M::Echo] = b(false);
    s[M::Emulation] = i(4);
    s[M::EndOfLineMode] = i(0);
    s[M::ForeColor] = i(15);
    s[M::InputEcho] = b(false);
    s[M::Rows] = i(25);
    s[M::ScrollContents] = Variant("");
    s[M::ScrollRows] = i(0);
    s[M::SelLength] = i(0);
    s[M::SelStart] = i(0);
    s[M::SelText] = Variant("");
    s[M::ToolbarVisible] = b(true);
    s[M::StatusbarVisible] = b(true);
    s[M::BorderStyle] = i(1);
    s[M::CharacterSet] = i(0);
    s[M::Rendition] = i(0);
    // File transfer.
    s[M::AbortTransfer] = b(false);
    s[M::XferDestFilename] = Variant("");
    s[M::XferFileSize] = i(0);
    s[M::XferMessage] = Variant("");
    s[M::XferProtocol] = i(5);
    s[M::XferSourceFilename] = Variant("");
    s[M::XferStatus] = i(TransferStatus_Success);
    s[M::XferStatusDialog] = i(2);
    s[M::XferTransferred] = i(0);
    s[M::XferPath] = Variant("");
    // Modem, dialing and project files.
    s[M::Dial] = Variant("");
    s[M::DialMode] = i(0);
    s[M::DialTimeOut] = i(60000);
    s[M::HangUp] = b(false);
    s[M::InitModem] = b(false);
    s[M::InitModemForAnswer] = b(false);
    s[M::ModemAnswerCommand] = Variant(kModemAnswer);
    s[M::ModemDialPulseCommand] = Variant(kModemDialPulse);
    s[M::ModemDialToneCommand] = Variant(kModemDialTone);
    s[M::ModemHangUpCommand] = Variant(kModemHangUp);
    s[M::ModemIndex] = i(0);
    s[M::ModemInitCommand] = Variant(kModemInit);
    s[M::ModemTitle] = Variant(kModemTitle);
    s[M::ProjectPhoneNumber] = Variant("");
    s[M::ProjectFilename] = Variant("");
    s[M::DialStatusDialog] = i(2);
    s[M::UseTAPI] = b(false);
}

void ControlAccess::buildDispatch(CQelComm& c)
{
    Binder d{c.m_dispatch};
    CQelComm* p = &c;

    // Communications.
    d.boolean(M::Enabled, "Enabled", [p] { return p->Enabled(); }, [p](bool v) { return p->SetEnabled(v); });
    d.text(M::Settings, "Settings", [p] { return p->Settings(); },
           [p](const std::string& v) { return p->SetSettings(v); });
    d.integer(M::AutoProcess, "AutoProcess", [p] { return p->AutoProcess(); },
              [p](std::int32_t v) { return p->SetAutoProcess(v); });
    d.boolean(M::AutoReceive, "AutoReceive", [p] { return p->AutoReceive(); },
              [p](bool v) { return p->SetAutoReceive(v); });
    d.boolean(M::AutoSend, "AutoSend", [p] { return p->AutoSend(); }, [p](bool v) { return p->SetAutoSend(v); });
    d.boolean(M::Break, "Break", [p] { return p->Break(); }, [p](bool v) { return p->SetBreak(v); });
    d.boolean(M::Busy, "Busy", [p] { return p->Busy(); });
    d.boolean(M::CDHolding, "CDHolding", [p] { return p->CDHolding(); });
    d.integer(M::CDTimeOut, "CDTimeOut", [p] { return p->CDTimeOut(); },
              [p](std::int32_t v) { return p->SetCDTimeOut(v); });
    d.checkedText(M::ComInput, "ComInput", [p](std::string& s) { return p->ComInput(s); });
    d.checkedText(M::ComLineInput, "ComLineInput", [p](std::string& s) { return p->ComLineInput(s); });
    d.boolean(M::CommEcho, "CommEcho", [p] { return p->CommEcho(); }, [p](bool v) { return p->SetCommEcho(v); });
    d.integer(M::CommError, "CommError", [p] { return p->CommError(); });
    d.integer(M::CommEvent, "CommEvent", [p] { return p->CommEvent(); });
    d.integer(M::CommHandle, "CommHandle", [p] { return p->CommHandle(); },
              [p](std::int32_t v) { return p->SetCommHandle(v); });
    c.m_dispatch.addProperty(
        M::CommPort, "CommPort", [p] { return Variant(p->CommPort()); },
        [p](const Variant& v) {
            const auto i = v.toInt16();
            return i ? p->SetCommPort(*i) : typeMismatch();
        });
    d.boolean(M::CTSHolding, "CTSHolding", [p] { return p->CTSHolding(); });
    d.integer(M::CTSTimeOut, "CTSTimeOut", [p] { return p->CTSTimeOut(); },
              [p](std::int32_t v) { return p->SetCTSTimeOut(v); });
    d.boolean(M::DSRHolding, "DSRHolding", [p] { return p->DSRHolding(); });
    d.integer(M::DSRTimeOut, "DSRTimeOut", [p] { return p->DSRTimeOut(); },
              [p](std::int32_t v) { return p->SetDSRTimeOut(v); });
    d.boolean(M::DTRHolding, "DTRHolding", [p] { return p->DTRHolding(); },
              [p](bool v) { return p->SetDTRHolding(v); });
    d.integer(M::Handshaking, "Handshaking", [p] { return p->Handshaking(); },
              [p](std::int32_t v) { return p->SetHandshaking(v); });
    d.boolean(M::IgnoreOnComm, "IgnoreOnComm", [p] { return p->IgnoreOnComm(); },
              [p](bool v) { return p->SetIgnoreOnComm(v); });
    d.integer(M::InBufferCount, "InBufferCount", [p] { return p->InBufferCount(); },
              [p](std::int32_t v) { return p->SetInBufferCount(v); });
    d.integer(M::InBufferSize, "InBufferSize", [p] { return p->InBufferSize(); },
              [p](std::int32_t v) { return p->SetInBufferSize(v); });
    d.integer(M::InputLen, "InputLen", [p] { return p->InputLen(); },
              [p](std::int32_t v) { return p->SetInputLen(v); });
    d.integer(M::Interval, "Interval", [p] { return p->Interval(); },
              [p](std::int32_t v) { return p->SetInterval(v); });
    d.integer(M::InTimeOut, "InTimeOut", [p] { return p->InTimeOut(); },
              [p](std::int32_t v) { return p->SetInTimeOut(v); });
    c.m_dispatch.addCheckedProperty(M::LookUp, "LookUp", [p](Variant& out) {
        std::int32_t index = -1;
        ErrorInfo e = p->LookUp(index);
        if (!e.failed())
            out = Variant(index);
        return e;
    });
    d.text(M::LookUpInput, "LookUpInput", [p] { return p->LookUpInput(); });
    d.integer(M::LookUpInputLen, "LookUpInputLen", [p] { return p->LookUpInputLen(); },
              [p](std::int32_t v) { return p->SetLookUpInputLen(v); });
    d.text(M::LookUpSeparator, "LookUpSeparator", [p] { return p->LookUpSeparator(); },
           [p](const std::string& v) { return p->SetLookUpSeparator(v); });
    d.text(M::LookUpText, "LookUpText", [p] { return p->LookUpText(); },
           [p](const std::string& v) { return p->SetLookUpText(v); });
    d.integer(M::LookUpTimeOut, "LookUpTimeOut", [p] { return p->LookUpTimeOut(); },
              [p](std::int32_t v) { return p->SetLookUpTimeOut(v); });
    d.integer(M::Notification, "Notification", [p] { return p->Notification(); },
              [p](std::int32_t v) { return p->SetNotification(v); });
    d.boolean(M::NullDiscard, "NullDiscard", [p] { return p->NullDiscard(); },
              [p](bool v) { return p->SetNullDiscard(v); });
    d.integer(M::OutBufferCount, "OutBufferCount", [p] { return p->OutBufferCount(); },
              [p](std::int32_t v) { return p->SetOutBufferCount(v); });
    d.integer(M::OutBufferSize, "OutBufferSize", [p] { return p->OutBufferSize(); },
              [p](std::int32_t v) { return p->SetOutBufferSize(v); });
    d.writeOnly(M::Output, "Output", [p](const Variant& v) { return p->Output(v.toString()); });
    d.writeOnly(M::OutputLine, "OutputLine", [p](const Variant& v) { return p->OutputLine(v.toString()); });
    d.text(M::ParityReplace, "ParityReplace", [p] { return p->ParityReplace(); },
           [p](const std::string& v) { return p->SetParityReplace(v); });
    d.writeOnly(M::Pause, "Pause", [p](const Variant& v) {
        const auto i = v.toInt32();
        return i ? p->Pause(*i) : typeMismatch();
    });
    d.boolean(M::PortOpen, "PortOpen", [p] { return p->PortOpen(); }, [p](bool v) { return p->SetPortOpen(v); });
    d.integer(M::RThreshold, "RThreshold", [p] { return p->RThreshold(); },
              [p](std::int32_t v) { return p->SetRThreshold(v); });
    d.boolean(M::RTSEnable, "RTSEnable", [p] { return p->RTSEnable(); },
              [p](bool v) { return p->SetRTSEnable(v); });
    d.boolean(M::ShutDown, "ShutDown", [p] { return p->ShutDown(); }, [p](bool v) { return p->SetShutDown(v); });
    d.integer(M::SThreshold, "SThreshold", [p] { return p->SThreshold(); },
              [p](std::int32_t v) { return p->SetSThreshold(v); });
    d.checkedText(M::Input, "Input", [p](std::string& s) { return p->Input(s); });
    d.checkedText(M::LineInput, "LineInput", [p](std::string& s) { return p->LineInput(s); });
    d.integer(M::CommID, "CommID", [p] { return p->CommID(); }, [p](std::int32_t v) { return p->SetCommID(v); });
    d.integer(M::OutTimeOut, "OutTimeOut", [p] { return p->OutTimeOut(); },
              [p](std::int32_t v) { return p->SetOutTimeOut(v); });

    // Tracing switches.
    d.boolean(M::CommSpy, "CommSpy", [p] { return p->CommSpy(); }, [p](bool v) { return p->SetCommSpy(v); });
    d.boolean(M::CommSpyEvents, "CommSpyEvents", [p] { return p->CommSpyEvents(); },
              [p](bool v) { return p->SetCommSpyEvents(v); });
    d.boolean(M::CommSpyInput, "CommSpyInput", [p] { return p->CommSpyInput(); },
              [p](bool v) { return p->SetCommSpyInput(v); });
    d.boolean(M::CommSpyOutput, "CommSpyOutput", [p] { return p->CommSpyOutput(); },
              [p](bool v) { return p->SetCommSpyOutput(v); });
    d.boolean(M::CommSpyProperties, "CommSpyProperties", [p] { return p->CommSpyProperties(); },
              [p](bool v) { return p->SetCommSpyProperties(v); });
    d.boolean(M::CommSpyWarnings, "CommSpyWarnings", [p] { return p->CommSpyWarnings(); },
              [p](bool v) { return p->SetCommSpyWarnings(v); });

    // Members that keep their value. The written value is stored in the
    // type of the default, so a read gives back what the interface declares.
    auto stored = [p](std::int32_t id, const char* name, bool writable) {
        DispatchTable::Setter put;
        if (writable)
            put = [p, id](const Variant& v) {
                Variant& slot = p->m_stored[id];
                switch (slot.type()) {
                case Variant::Type::Bool: slot = Variant::fromBool(v.toBool()); break;
                case Variant::Type::Int32: {
                    const auto i = v.toInt32();
                    if (!i)
                        return typeMismatch();
                    slot = Variant(*i);
                    break;
                }
                default: slot = Variant(v.toString()); break;
                }
                if (id == M::Columns || id == M::Emulation)
                    p->notifyChanged(id);
                return p->ok();
            };
        p->m_dispatch.addProperty(id, name, [p, id] { return p->StoredProperty(id); }, put);
    };
    auto sink = [p](std::int32_t id, const char* name) {   // written, nothing to read
        Binder{p->m_dispatch}.writeOnly(id, name, [p](const Variant&) { return p->ok(); });
    };
    for (auto [id, name] : {std::pair{M::Font, "Font"}, {M::BackColor, "BackColor"}, {M::AutoScroll, "AutoScroll"},
                            {M::AutoScrollColumn, "AutoScrollColumn"}, {M::AutoScrollKeyboard, "AutoScrollKeyboard"},
                            {M::AutoScrollRow, "AutoScrollRow"}, {M::AutoSize, "AutoSize"},
                            {M::BackSpace, "BackSpace"}, {M::CaptureFilename, "CaptureFilename"},
                            {M::CaptureMode, "CaptureMode"}, {M::ColorFilter, "ColorFilter"},
                            {M::Columns, "Columns"}, {M::Contents, "Contents"}, {M::CursorColumn, "CursorColumn"},
                            {M::CursorRow, "CursorRow"}, {M::Emulation, "Emulation"},
                            {M::EndOfLineMode, "EndOfLineMode"}, {M::ForeColor, "ForeColor"}, {M::Rows, "Rows"},
                            {M::ScrollRows, "ScrollRows"}, {M::SelLength, "SelLength"}, {M::SelStart, "SelStart"},
                            {M::ToolbarVisible, "ToolbarVisible"}, {M::StatusbarVisible, "StatusbarVisible"},
                            {M::BorderStyle, "BorderStyle"}, {M::CharacterSet, "CharacterSet"},
                            {M::Rendition, "Rendition"}, {M::AbortTransfer, "AbortTransfer"},
                            {M::XferDestFilename, "XferDestFilename"}, {M::XferProtocol, "XferProtocol"},
                            {M::XferStatusDialog, "XferStatusDialog"}, {M::XferPath, "XferPath"},
                            {M::Dial, "Dial"}, {M::DialMode, "DialMode"}, {M::DialTimeOut, "DialTimeOut"},
                            {M::ModemAnswerCommand, "ModemAnswerCommand"},
                            {M::ModemDialPulseCommand, "ModemDialPulseCommand"},
                            {M::ModemDialToneCommand, "ModemDialToneCommand"},
                            {M::ModemHangUpCommand, "ModemHangUpCommand"}, {M::ModemIndex, "ModemIndex"},
                            {M::ModemInitCommand, "ModemInitCommand"}, {M::ModemTitle, "ModemTitle"},
                            {M::ProjectPhoneNumber, "ProjectPhoneNumber"}, {M::ProjectFilename, "ProjectFilename"},
                            {M::DialStatusDialog, "DialStatusDialog"}, {M::UseTAPI, "UseTAPI"}})
        stored(id, name, true);
    for (auto [id, name] : {std::pair{M::ScrollContents, "ScrollContents"}, {M::SelText, "SelText"},
                            {M::XferFileSize, "XferFileSize"}, {M::XferMessage, "XferMessage"},
                            {M::XferSourceFilename, "XferSourceFilename"}, {M::XferStatus, "XferStatus"},
                            {M::XferTransferred, "XferTransferred"}, {M::HangUp, "HangUp"},
                            {M::InitModem, "InitModem"}, {M::InitModemForAnswer, "InitModemForAnswer"}})
        stored(id, name, false);
    for (auto [id, name] : {std::pair{M::Display, "Display"}, {M::DisplayLine, "DisplayLine"},
                            {M::Download, "Download"}, {M::Upload, "Upload"},
                            {M::FillModemCombo, "FillModemCombo"}, {M::FillModemList, "FillModemList"}})
        sink(id, name);

    // Echo and InputEcho already have their engine switches.
    d.boolean(M::Echo, "Echo", [p] { return engineFlag(::GetEcho(p->m_hObject)); }, [p](bool v) {
        p->m_stored[M::Echo] = Variant::fromBool(v);
        ::SetEcho(p->m_hObject, toEngineFlag(v));
        return p->ok();
    });
    d.boolean(M::InputEcho, "InputEcho", [p] { return engineFlag(::GetInputEcho(p->m_hObject)); }, [p](bool v) {
        p->m_stored[M::InputEcho] = Variant::fromBool(v);
        ::SetInputEcho(p->m_hObject, toEngineFlag(v));
        return p->ok();
    });
    Binder{c.m_dispatch}.writeOnly(M::OutputModem, "OutputModem",
                                   [p](const Variant& v) { return p->OutputModem(v.toString()); });

    // Methods and the indexed command state.
    c.m_dispatch.addMethod(M::About, "About", [p](Args&, Variant&) {
        p->About();
        return p->ok();
    });
    c.m_dispatch.addMethod(M::CommandState, "CommandState", [p](Args& a, Variant& r) {
        // CommandState(command) reads, CommandState(command, value) writes.
        if (a.empty() || !a[0] || !a[0]->toInt32())
            return typeMismatch();
        const std::int32_t command = *a[0]->toInt32();
        if (a.size() >= 2 && a[1])
            p->m_commandState[command] = Variant(a[1]->toInt32().value_or(0));
        const auto it = p->m_commandState.find(command);
        r = it == p->m_commandState.end() ? Variant(std::int32_t(0)) : it->second;
        return p->ok();
    });

    // The terminal members replace their stored entries.
    ControlAccess::bindTerminal(c);
    ControlAccess::bindModem(c);
    ControlAccess::bindTransfer(c);
    ControlAccess::bindCommands(c);
}

}  // namespace qelcomm::control
