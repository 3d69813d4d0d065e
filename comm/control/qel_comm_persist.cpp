// The control's persistence: the persisted properties in their fixed order,
// saved to and loaded from the binary stream form and a property bag, and
// the apply step that pushes the stored copies into the comm object.
#include "qel_comm.h"

#include "comm_spy.h"
#include "control_access.h"
#include "qelcomm_modem.h"
#include "qelcomm_terminal.h"
#include "transfer_engine.h"

#include <iterator>
#include <string_view>

namespace qelcomm::control {
namespace {

using lt::automation::ByteStream;
using lt::automation::PropertyBag;
using lt::automation::Variant;
namespace M = MemberId;
namespace VT = lt::automation::VarType;

constexpr std::uint32_t kStreamVersion = 0x00000300;

enum class Kind { ExtentX, ExtentY, Long, Boolean, String, Font };

struct Entry {
    const char* key;
    std::int32_t dispid;
    Kind kind;
};

// Save and load use the same order; Columns is in it twice on purpose
// (stored forms written so far hold it twice).
constexpr Entry kEntries[] = {
    {"_cx", 0, Kind::ExtentX},
    {"_cy", 0, Kind::ExtentY},
    {"Enabled", M::Enabled, Kind::Boolean},
    {"Settings", M::Settings, Kind::String},
    {"BackColor", M::BackColor, Kind::Long},
    {"Columns", M::Columns, Kind::Long},
    {"AutoProcess", M::AutoProcess, Kind::Long},
    {"AutoScrollColumn", M::AutoScrollColumn, Kind::Boolean},
    {"AutoScrollKeyboard", M::AutoScrollKeyboard, Kind::Boolean},
    {"AutoScrollRow", M::AutoScrollRow, Kind::Boolean},
    {"AutoSize", M::AutoSize, Kind::Long},
    {"BackSpace", M::BackSpace, Kind::Long},
    {"CaptureFilename", M::CaptureFilename, Kind::String},
    {"CaptureMode", M::CaptureMode, Kind::Long},
    {"CDTimeOut", M::CDTimeOut, Kind::Long},
    {"ColorFilter", M::ColorFilter, Kind::Long},
    {"Columns", M::Columns, Kind::Long},
    {"CommEcho", M::CommEcho, Kind::Boolean},
    {"CommPort", M::CommPort, Kind::Long},
    {"CommSpy", M::CommSpy, Kind::Boolean},
    {"CommSpyInput", M::CommSpyInput, Kind::Boolean},
    {"CommSpyOutput", M::CommSpyOutput, Kind::Boolean},
    {"CommSpyProperties", M::CommSpyProperties, Kind::Boolean},
    {"CommSpyWarnings", M::CommSpyWarnings, Kind::Boolean},
    {"CommSpyEvents", M::CommSpyEvents, Kind::Boolean},
    {"CTSTimeOut", M::CTSTimeOut, Kind::Long},
    {"DialMode", M::DialMode, Kind::Long},
    {"DialTimeOut", M::DialTimeOut, Kind::Long},
    {"DSRTimeOut", M::DSRTimeOut, Kind::Long},
    {"Echo", M::Echo, Kind::Boolean},
    {"Emulation", M::Emulation, Kind::Long},
    {"EndOfLineMode", M::EndOfLineMode, Kind::Long},
    {"ForeColor", M::ForeColor, Kind::Long},
    {"Handshaking", M::Handshaking, Kind::Long},
    {"IgnoreOnComm", M::IgnoreOnComm, Kind::Boolean},
    {"InBufferSize", M::InBufferSize, Kind::Long},
    {"InputEcho", M::InputEcho, Kind::Boolean},
    {"InputLen", M::InputLen, Kind::Long},
    {"InTimeOut", M::InTimeOut, Kind::Long},
    {"OutTimeOut", M::OutTimeOut, Kind::Long},
    {"LookUpSeparator", M::LookUpSeparator, Kind::String},
    {"LookUpText", M::LookUpText, Kind::String},
    {"LookUpTimeOut", M::LookUpTimeOut, Kind::Long},
    {"NullDiscard", M::NullDiscard, Kind::Boolean},
    {"OutBufferSize", M::OutBufferSize, Kind::Long},
    {"ParityReplace", M::ParityReplace, Kind::String},
    {"Rows", M::Rows, Kind::Long},
    {"RThreshold", M::RThreshold, Kind::Long},
    {"RTSEnable", M::RTSEnable, Kind::Boolean},
    {"ScrollRows", M::ScrollRows, Kind::Long},
    {"SThreshold", M::SThreshold, Kind::Long},
    {"XferProtocol", M::XferProtocol, Kind::Long},
    {"XferStatusDialog", M::XferStatusDialog, Kind::Long},
    {"Font", M::Font, Kind::Font},
    {"ModemAnswerCommand", M::ModemAnswerCommand, Kind::String},
    {"ModemDialPulseCommand", M::ModemDialPulseCommand, Kind::String},
    {"ModemDialToneCommand", M::ModemDialToneCommand, Kind::String},
    {"ModemHangUpCommand", M::ModemHangUpCommand, Kind::String},
    {"ModemInitCommand", M::ModemInitCommand, Kind::String},
    {"ModemTitle", M::ModemTitle, Kind::String},
    {"StatusbarVisible", M::StatusbarVisible, Kind::Boolean},
    {"ToolbarVisible", M::ToolbarVisible, Kind::Boolean},
    {"StatusDialog", M::DialStatusDialog, Kind::Long},
    {"UseTAPI", M::UseTAPI, Kind::Boolean},
    {"BorderStyle", M::BorderStyle, Kind::Long},
    {"ProjectPhoneNumber", M::ProjectPhoneNumber, Kind::String},
    {"ProjectFilename", M::ProjectFilename, Kind::String},
    // Added later; a stored form that ends before them loads as before.
    {"CharacterSet", M::CharacterSet, Kind::Long},
    {"Rendition", M::Rendition, Kind::Long},
};
constexpr std::size_t kFirstAddedEntry = 67;
static_assert(std::string_view(kEntries[kFirstAddedEntry].key) == "CharacterSet");

std::uint16_t varTypeOf(Kind k)
{
    switch (k) {
    case Kind::Boolean: return VT::Boolean;
    case Kind::String: return VT::String;
    default: return VT::Long;
    }
}

const char* loadFailureText(HResult hr)
{
    switch (hr) {
    case lt::automation::kFail: return "Failed for some unknown reason.";
    case lt::automation::kUnexpected: return "There was an unexpected error loading the properties of Qel Comm.";
    case lt::automation::kOutOfMemory: return "Not enough memory to load Qel Comm Objects.";
    default: return nullptr;
    }
}

// Keeps m_loadDepth raised for a scope: setters then notify no sinks and
// write no trace.
struct LoadScope {
    std::int32_t& depth;
    explicit LoadScope(std::int32_t& d) : depth(d) { ++depth; }
    ~LoadScope() { --depth; }
};

}  // namespace

void CQelComm::ApplyProperties()
{
    const QcHandle o = m_hObject;
    LoadScope scope(m_loadDepth);
    auto stored = [this](std::int32_t id) { return StoredProperty(id).toInt32().value_or(0); };
    auto flag = [this](std::int32_t id) { return toEngineFlag(StoredProperty(id).toBool()); };

    ::SetAutoProcess(o, m_autoProcess);
    ::SetAutoScroll(o, ControlAccess::autoScrollValue(*this));
    ::SetAutoSize(o, stored(M::AutoSize));
    ::SetBackspace(o, stored(M::BackSpace));
    ::SetCaptureFilename(o, StoredProperty(M::CaptureFilename).toString().c_str());
    ::SetCaptureMode(o, stored(M::CaptureMode));
    ::SetCarrierTimeOut(o, std::uint32_t(m_cdTimeOut));
    ::SetColorFilter(o, stored(M::ColorFilter));
    ::SetColor(o, (stored(M::BackColor) & 15) * 16 + (stored(M::ForeColor) & 15));
    ::SetColumns(o, stored(M::Columns));
    ::SetCommEcho(o, toEngineFlag(m_commEcho));
    ::SetCommPort(o, m_commPort);
    ::SetCTSTimeOut(o, std::uint32_t(m_ctsTimeOut));
    ::SetDialMode(o, stored(M::DialMode));
    ::SetDialTimeOut(o, std::uint32_t(stored(M::DialTimeOut)));
    ::SetDSRTimeOut(o, std::uint32_t(m_dsrTimeOut));
    ::SetEcho(o, flag(M::Echo));
    ::SetEmulation(o, stored(M::Emulation));
    ::SetEndOfLineMode(o, stored(M::EndOfLineMode));
    ::SetHandshaking(o, m_handshaking);
    ::SetInBufferSize(o, m_inBufferSize);
    ::SetInputEcho(o, flag(M::InputEcho));
    ::SetInputTimeOut(o, std::uint32_t(m_inTimeOut));
    ::SetOutputTimeOut(o, std::uint32_t(m_outTimeOut));
    ::SetLookUpTimeOut(o, std::uint32_t(m_lookUpTimeOut));
    ControlAccess::applyModem(*this);   // the modem options (and the dial settings again)
    ::SetNullDiscard(o, toEngineFlag(m_nullDiscard));
    ::SetOutBufferSize(o, m_outBufferSize);
    ::SetParityReplace(o, m_parityReplace);
    ::SetRows(o, stored(M::Rows));
    ::SetRThreshold(o, m_rThreshold);
    ::SetRTS(o, toEngineFlag(m_rtsEnable));
    ::SetScrollRows(o, stored(M::ScrollRows));
    ::SetSettings(o, m_settings.c_str());
    ::SetSThreshold(o, m_sThreshold);
    ::SetProtocol(o, stored(M::XferProtocol));
    ::SetTransferDialogType(o, stored(M::XferStatusDialog));
    ::SetCharacterSet(o, stored(M::CharacterSet));
    ::SetRendition(o, stored(M::Rendition));
    // The font handle of the object's window is the control's font record,
    // which lives as long as the window; lParam 1 asks for a redraw.
    win::sendMessage(o, win::WM_SETFONT, reinterpret_cast<win::WParam>(&m_font), 1);

    ::SetCommSpyInput(o, m_spyInput);
    ::SetCommSpyOutput(o, m_spyOutput);
    win::enableWindow(o, m_enabled);

    if (m_statusRefresh)
        m_statusRefresh();

    // The name trace lines carry: the container's, else the class name.
    m_objectName = m_ambientName.empty() ? "QelComm" : m_ambientName;
    win::setWindowText(o, m_objectName);
}

ErrorInfo CQelComm::SetFont(const lt::automation::FontDesc& font)
{
    m_font = font;
    m_stored[M::Font] = Variant(font.name);
    return ok();
}

void CQelComm::Save(ByteStream& out)
{
    LoadScope scope(m_loadDepth);
    out.writeU32(kStreamVersion);
    for (const Entry& e : kEntries) {
        switch (e.kind) {
        case Kind::ExtentX: out.writeI32(m_extentX); break;
        case Kind::ExtentY: out.writeI32(m_extentY); break;
        case Kind::Font: lt::automation::writeFont(out, m_font); break;
        default: {
            Variant v;
            m_dispatch.get(e.dispid, v);
            lt::automation::writeValue(out, varTypeOf(e.kind), v);
        }
        }
    }
}

void CQelComm::Save(PropertyBag& bag)
{
    LoadScope scope(m_loadDepth);
    for (const Entry& e : kEntries) {
        switch (e.kind) {
        case Kind::ExtentX: bag.write(e.key, Variant(m_extentX)); break;
        case Kind::ExtentY: bag.write(e.key, Variant(m_extentY)); break;
        case Kind::Font: bag.writeObject(e.key, lt::automation::fontBag(m_font)); break;
        default: {
            Variant v;
            m_dispatch.get(e.dispid, v);
            bag.write(e.key, v);
        }
        }
    }
}

void CQelComm::Load(ByteStream& in)
{
    HResult result = lt::automation::kOk;
    {
        LoadScope scope(m_loadDepth);
        std::uint32_t version = 0;
        if (!in.readU32(version))
            result = lt::automation::kFail;
        else if (version != kStreamVersion)
            result = lt::automation::kUnexpected;
        // The first entry that cannot be read stops the load; what was read
        // before it keeps its new value.
        for (std::size_t i = 0; i < std::size(kEntries); ++i) {
            const Entry& e = kEntries[i];
            if (result != lt::automation::kOk || (i >= kFirstAddedEntry && in.atEnd()))
                break;
            switch (e.kind) {
            case Kind::ExtentX:
            case Kind::ExtentY: {
                std::int32_t v;
                if (!in.readI32(v)) {
                    result = lt::automation::kFail;
                    break;
                }
                (e.kind == Kind::ExtentX ? m_extentX : m_extentY) = v;
                break;
            }
            case Kind::Font: {
                lt::automation::FontDesc font = m_font;
                result = lt::automation::readFont(in, font);
                if (result == lt::automation::kOk)
                    SetFont(font);
                break;
            }
            default: {
                Variant v;
                result = lt::automation::readValue(in, varTypeOf(e.kind), v);
                if (result == lt::automation::kOk)
                    m_dispatch.put(e.dispid, v);   // a rejected value leaves the previous one
            }
            }
        }
    }
    ApplyProperties();
    m_lastError = ErrorInfo{};
    if (const char* text = loadFailureText(result))
        m_lastError = ErrorInfo{result, std::int32_t(result & 0xFFFFu), text, kProgId};
}

void CQelComm::Load(const PropertyBag& bag)
{
    LoadScope scope(m_loadDepth);
    for (const Entry& e : kEntries) {
        switch (e.kind) {
        case Kind::ExtentX:
        case Kind::ExtentY:
            if (auto v = bag.read(e.key))
                if (auto i = v->toInt32())
                    (e.kind == Kind::ExtentX ? m_extentX : m_extentY) = *i;
            break;
        case Kind::Font:
            if (const PropertyBag* f = bag.readObject(e.key)) {
                lt::automation::FontDesc font = m_font;
                lt::automation::readFontBag(*f, font);
                SetFont(font);
            }
            break;
        default:
            if (auto v = bag.read(e.key))
                m_dispatch.put(e.dispid, *v);   // a value the setter refuses leaves the previous one
        }
    }
    m_lastError = ErrorInfo{};
}

}  // namespace qelcomm::control
