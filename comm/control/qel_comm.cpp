// The control's life (comm object, defaults, the apply step, in-place
// activation) and the properties that map onto one engine field each.
// Engine calls are written with "::" because most of them share their
// names with the control's own members.
#include "qel_comm.h"
#include "qel_comm_register.h"

#include "comm_object.h"
#include "comm_spy.h"
#include "companion.h"
#include "control_access.h"

namespace qelcomm::control {

CQelComm::CQelComm()
{
    NoteControlCreated();
    createObject(0);
    setDefaults();
    ApplyProperties();
    ::SetEventHandler(m_hObject, &ControlAccess::onEngineEvent);
    ControlAccess::buildDispatch(*this);
    ControlAccess::bindTrace(*this);
}

CQelComm::~CQelComm()
{
    NoteControlDestroyed();
    *m_alive = false;
    destroyObject();
}

void CQelComm::setDefaults()
{
    // The member initialisers hold the communications defaults; the members
    // that only store their value get theirs here.
    ControlAccess::setStoredDefaults(*this);
}

void CQelComm::createObject(win::Hwnd parent)
{
    m_hObject = ::CreateCommObject(parent);
    if (CommObjectData* d = qelcomm::resolve(m_hObject))
        d->owner = this;
}

void CQelComm::destroyObject()
{
    if (m_hObject) {
        ::SetEventHandler(m_hObject, nullptr);
        ControlAccess::releaseTerminal(*this);
        ::DestroyCommObject(m_hObject);
        m_hObject = 0;
    }
    if (m_commandWindow) {
        win::destroyWindow(m_commandWindow);
        m_commandWindow = 0;
    }
}

bool CQelComm::InPlaceActivate(win::Hwnd container)
{
    if (!container || !win::isWindow(container))
        return false;
    destroyObject();
    createObject(container);
    if (!m_hObject)
        return false;
    m_commandWindow = ControlAccess::createCommandWindow(*this);
    ::SetEventWindow(m_hObject, m_commandWindow);
    ApplyProperties();
    return true;
}

ErrorInfo CQelComm::ok()
{
    m_lastError = ErrorInfo{};
    return m_lastError;
}

ErrorInfo CQelComm::fail(HResult hr, const std::string& description)
{
    m_lastError = ErrorInfo{hr, std::int32_t(hr & 0xFFFFu), description, kProgId};
    return m_lastError;
}

// --- Port and line.

std::int16_t CQelComm::CommPort() const { return std::int16_t(::GetCommPort(m_hObject)); }

ErrorInfo CQelComm::SetCommPort(std::int16_t port)
{
    m_commPort = port;
    ::SetCommPort(m_hObject, port);
    refreshStatus();
    return ok();
}

bool CQelComm::PortOpen() const { return engineFlag(::GetPortOpen(m_hObject)); }

ErrorInfo CQelComm::SetPortOpen(bool open)
{
    const bool opened = ::SetPortOpen(m_hObject, toEngineFlag(open)) != 0;
    refreshStatus();
    if (open && opened && engineFlag(::GetPortOpen(m_hObject)) && engineFlag(::GetCarrier(m_hObject)))
        fire(EventId::CarrierChanged);
    return ok();
}

std::string CQelComm::Settings() const
{
    char buffer[64] = {};
    ::GetSettings(m_hObject, buffer);
    return buffer;
}

ErrorInfo CQelComm::SetSettings(const std::string& settings)
{
    m_settings = settings;
    const std::int32_t result = ::SetSettings(m_hObject, settings.c_str());
    refreshStatus();
    notifyChanged(MemberId::Settings);
    // A rejected text is not raised as an error (containers rely on the
    // write succeeding); the engine's result code tells a caller about it.
    ErrorInfo e = ok();
    e.code = result;
    m_lastError = e;
    return e;
}

std::int32_t CQelComm::Handshaking() const { return ::GetHandshaking(m_hObject); }

ErrorInfo CQelComm::SetHandshaking(std::int32_t value)
{
    m_handshaking = value;
    ::SetHandshaking(m_hObject, value);
    return ok();
}

std::int32_t CQelComm::InBufferSize() const { return ::GetInBufferSize(m_hObject); }

ErrorInfo CQelComm::SetInBufferSize(std::int32_t bytes)
{
    m_inBufferSize = bytes;
    ::SetInBufferSize(m_hObject, bytes);
    return ok();
}

std::int32_t CQelComm::OutBufferSize() const { return ::GetOutBufferSize(m_hObject); }

ErrorInfo CQelComm::SetOutBufferSize(std::int32_t bytes)
{
    m_outBufferSize = bytes;
    ::SetOutBufferSize(m_hObject, bytes);
    return ok();
}

std::int32_t CQelComm::InBufferCount() const { return ::GetInBufferCount(m_hObject); }

ErrorInfo CQelComm::SetInBufferCount(std::int32_t count)
{
    if (count == 0)
        ::ClearInputBuffer(m_hObject);
    return ok();
}

std::int32_t CQelComm::OutBufferCount() const { return ::GetOutBufferCount(m_hObject); }

ErrorInfo CQelComm::SetOutBufferCount(std::int32_t count)
{
    if (count == 0)
        ::ClearOutputBuffer(m_hObject);
    return ok();
}

bool CQelComm::CTSHolding() const { return engineFlag(::GetCTS(m_hObject)); }
bool CQelComm::DSRHolding() const { return engineFlag(::GetDSR(m_hObject)); }
bool CQelComm::CDHolding() const { return engineFlag(::GetCarrier(m_hObject)); }
bool CQelComm::DTRHolding() const { return engineFlag(::GetDTR(m_hObject)); }

ErrorInfo CQelComm::SetDTRHolding(bool on)
{
    ::SetDTR(m_hObject, toEngineFlag(on));
    return ok();
}

bool CQelComm::RTSEnable() const { return engineFlag(::GetRTS(m_hObject)); }

ErrorInfo CQelComm::SetRTSEnable(bool on)
{
    m_rtsEnable = on;
    ::SetRTS(m_hObject, toEngineFlag(on));
    return ok();
}

bool CQelComm::Break() const { return engineFlag(::GetBreak(m_hObject)); }

ErrorInfo CQelComm::SetBreak(bool on)
{
    ::SetBreak(m_hObject, toEngineFlag(on));
    return ok();
}

bool CQelComm::NullDiscard() const { return engineFlag(::GetNullDiscard(m_hObject)); }

ErrorInfo CQelComm::SetNullDiscard(bool on)
{
    m_nullDiscard = on;
    ::SetNullDiscard(m_hObject, toEngineFlag(on));
    return ok();
}

std::string CQelComm::ParityReplace() const
{
    const std::int32_t code = ::GetParityReplace(m_hObject);
    return code < 0 ? std::string() : std::string(1, char(code));
}

ErrorInfo CQelComm::SetParityReplace(const std::string& text)
{
    m_parityReplace = text.empty() ? -1 : std::int32_t(std::uint8_t(text[0]));
    ::SetParityReplace(m_hObject, m_parityReplace);
    return ok();
}

std::int32_t CQelComm::CTSTimeOut() const { return std::int32_t(::GetCTSTimeOut(m_hObject)); }

ErrorInfo CQelComm::SetCTSTimeOut(std::int32_t ms)
{
    m_ctsTimeOut = ms;
    ::SetCTSTimeOut(m_hObject, std::uint32_t(ms));
    return ok();
}

std::int32_t CQelComm::DSRTimeOut() const { return std::int32_t(::GetDSRTimeOut(m_hObject)); }

ErrorInfo CQelComm::SetDSRTimeOut(std::int32_t ms)
{
    m_dsrTimeOut = ms;
    ::SetDSRTimeOut(m_hObject, std::uint32_t(ms));
    return ok();
}

std::int32_t CQelComm::CDTimeOut() const { return std::int32_t(::GetCarrierTimeOut(m_hObject)); }

ErrorInfo CQelComm::SetCDTimeOut(std::int32_t ms)
{
    m_cdTimeOut = ms;
    ::SetCarrierTimeOut(m_hObject, std::uint32_t(ms));
    return ok();
}

std::int32_t CQelComm::CommHandle() const { return std::int32_t(::GetCommID(m_hObject)); }

ErrorInfo CQelComm::SetCommHandle(std::int32_t device)
{
    ::SetCommID(m_hObject, QcDevice(device));
    return ok();
}

// --- Input and output settings.

ErrorInfo CQelComm::SetInputLen(std::int32_t count)
{
    m_inputLen = count;
    return ok();
}

std::int32_t CQelComm::InTimeOut() const { return std::int32_t(::GetInputTimeOut(m_hObject)); }

ErrorInfo CQelComm::SetInTimeOut(std::int32_t ms)
{
    m_inTimeOut = ms;
    ::SetInputTimeOut(m_hObject, std::uint32_t(ms));
    return ok();
}

ErrorInfo CQelComm::SetOutTimeOut(std::int32_t ms)
{
    if (ms < 0)
        return ok();
    m_outTimeOut = ms;
    ::SetOutputTimeOut(m_hObject, std::uint32_t(ms));
    return ok();
}

bool CQelComm::CommEcho() const { return engineFlag(::GetCommEcho(m_hObject)); }

ErrorInfo CQelComm::SetCommEcho(bool on)
{
    m_commEcho = on;
    ::SetCommEcho(m_hObject, toEngineFlag(on));
    return ok();
}

bool CQelComm::Busy() const { return engineFlag(::GetBusy(m_hObject)); }
bool CQelComm::ShutDown() const { return engineFlag(::GetShutDown(m_hObject)); }

ErrorInfo CQelComm::SetShutDown(bool on)
{
    ::SetShutDown(m_hObject, toEngineFlag(on));
    return ok();
}

ErrorInfo CQelComm::Pause(std::int32_t ms)
{
    auto alive = m_alive;
    ::ComPause(m_hObject, std::uint32_t(ms));
    if (!*alive)
        return ErrorInfo{};
    return ok();
}

// --- Events and processing.

bool CQelComm::WakeOnData() const { return ::GetWakeOnData(m_hObject) != 0; }

ErrorInfo CQelComm::SetWakeOnData(bool on)
{
    ::SetWakeOnData(m_hObject, on ? 1 : 0);
    return ok();
}

std::int32_t CQelComm::RThreshold() const { return ::GetRThreshold(m_hObject); }

ErrorInfo CQelComm::SetRThreshold(std::int32_t count)
{
    m_rThreshold = count;
    ::SetRThreshold(m_hObject, count);
    notifyChanged(MemberId::RThreshold);
    return ok();
}

std::int32_t CQelComm::SThreshold() const { return ::GetSThreshold(m_hObject); }

ErrorInfo CQelComm::SetSThreshold(std::int32_t count)
{
    m_sThreshold = count;
    ::SetSThreshold(m_hObject, count);
    return ok();
}

std::int32_t CQelComm::CommEvent() const { return ::GetLastCommEvent(m_hObject); }
std::int32_t CQelComm::CommError() const { return std::int32_t(::GetLastCommError(m_hObject)); }

ErrorInfo CQelComm::SetIgnoreOnComm(bool on)
{
    m_ignoreOnComm = on ? 1 : 0;
    return ok();
}

std::int32_t CQelComm::AutoProcess() const { return ::GetAutoProcess(m_hObject); }

ErrorInfo CQelComm::SetAutoProcess(std::int32_t bits)
{
    m_autoProcess = bits;
    ::SetAutoProcess(m_hObject, bits);
    return ok();
}

bool CQelComm::AutoReceive() const { return (AutoProcess() & AutoProcess_Receive) != 0; }

ErrorInfo CQelComm::SetAutoReceive(bool on)
{
    const std::int32_t keyboard = AutoProcess() & AutoProcess_Send;
    return SetAutoProcess((on ? AutoProcess_Receive : 0) + keyboard);
}

bool CQelComm::AutoSend() const { return (AutoProcess() & AutoProcess_Send) != 0; }

ErrorInfo CQelComm::SetAutoSend(bool on)
{
    const std::int32_t receive = AutoProcess() & AutoProcess_Receive;
    return SetAutoProcess((on ? AutoProcess_Send : 0) + receive);
}

std::int32_t CQelComm::Interval() const { return std::int32_t(::GetInterval(m_hObject)); }

ErrorInfo CQelComm::SetInterval(std::int32_t ms)
{
    ::SetInterval(m_hObject, std::uint32_t(ms));
    return ok();
}

std::int32_t CQelComm::Notification() const { return ::GetNotification(m_hObject); }

ErrorInfo CQelComm::SetNotification(std::int32_t value)
{
    ::SetNotification(m_hObject, value);
    return ok();
}

ErrorInfo CQelComm::SetEnabled(bool on)
{
    // The object's window takes the state: a disabled window takes no
    // input from its view.
    m_enabled = on;
    win::enableWindow(m_hObject, on);
    return ok();
}

// --- Look-up settings.

ErrorInfo CQelComm::SetLookUpText(const std::string& text)
{
    m_lookUpText = text;
    return ok();
}

ErrorInfo CQelComm::SetLookUpSeparator(const std::string& text)
{
    m_lookUpSeparator = text.empty() ? '\0' : text[0];
    return ok();
}

ErrorInfo CQelComm::SetLookUpInputLen(std::int32_t count)
{
    m_lookUpInputLen = count;
    return ok();
}

ErrorInfo CQelComm::SetLookUpTimeOut(std::int32_t ms)
{
    m_lookUpTimeOut = ms;
    ::SetLookUpTimeOut(m_hObject, std::uint32_t(ms));
    return ok();
}

void CQelComm::About()
{
    using ShowAboutBox = void (*)();
    if (auto show = reinterpret_cast<ShowAboutBox>(
            qelcomm::companionSymbol(QELCOMM6_PAGES_LIBRARY, "qelcomm6ShowAboutBox")))
        show();
}

lt::automation::Variant CQelComm::StoredProperty(std::int32_t dispid) const
{
    const auto it = m_stored.find(dispid);
    return it == m_stored.end() ? lt::automation::Variant() : it->second;
}

}  // namespace qelcomm::control
