// From engine codes to control events: the callback installed in the pop-up
// comm object, the command-message road used once the control is in place,
// and the code tables with their help strings.
#include "qel_comm.h"

#include "comm_object.h"
#include "control_access.h"
#include "transfer_engine.h"

namespace qelcomm::control {
namespace {

constexpr const char* kCommandWindowClass = "QelCommControlEvents";

struct Named {
    std::int32_t id;
    const char* name;
    const char* help;
};

constexpr Named kEvents[] = {
    {EventId::Receive, "Receive", "Called when RThreshold or more characters are in the input buffer."},
    {EventId::Click, "Click", "Called when the user clicks inside the control."},
    {EventId::KeyDown, "KeyDown", "Called when the user presses a key while the control has focus."},
    {EventId::KeyPress, "KeyPress", "Called when the user presses a key while the control has focus."},
    {EventId::KeyUp, "KeyUp", "Called when the user releases a key while the control has focus."},
    {EventId::Send, "Send", "Called when SThreshold or less charactrs are in the output buffer."},
    {EventId::CTSChanged, "CTSChanged", "Called when the state of the CTS signal has changed."},
    {EventId::DSRChanged, "DSRChanged", "Called when the state of the DSR signal has changed."},
    {EventId::CarrierChanged, "CarrierChanged", "Called when the status of the carrier detect line is changed."},
    {EventId::Ring, "Ring", "Called when the Ring signal has changed."},
    {EventId::AbortFileTransfer, "AbortFileTransfer", "Called when the transfer is aborted."},
    {EventId::FinishFileTransfer, "FinishFileTransfer", "Called when the file transfer was succesfully completed."},
    {EventId::WaitForFile, "WaitForFile", "Called when the transfer engine is waiting for a file to be transferred."},
    {EventId::PrepareFile, "PrepareFile", "Called immediately before a file transfer."},
    {EventId::StartFile, "StartFile", "Called when a new file is transferred."},
    {EventId::AbortFile, "AbortFile", "Called when the transfer of the current file is aborted."},
    {EventId::FinishFile, "FinishFile", "Called when a file has been successfully transferred."},
    {EventId::TransferBlock, "TransferBlock", "Called when a block (usually 128 or 1024 bytes) has been transferred."},
    {EventId::OnComm, "OnComm", "Included for backward compatibility with the classic comm control."},
    {EventId::Command, "Command", "Called before a toolbar command is executed.."},
    {EventId::DblClick, "DblClick", "Called when the user double-clicks on the terminal window."},
    {EventId::Hide, "Hide", "Called when the control is hidden."},
    {EventId::Paint, "Paint", "Called when the control needs to be repainted."},
    {EventId::Show, "Show", "Called when the control is made visible."},
    {EventId::MouseMove, "MouseMove", "Called when the mouse moves over the terminal window."},
    {EventId::MouseDown, "MouseDown", "Called when a mouse button is pressed while mouse is over terminal window."},
    {EventId::MouseUp, "MouseUp", "Called when a mouse button is released while mouse is over terminal window."},
};

constexpr Named kCodes[] = {
    {Event_Send, "Event_Send", "Corresponds to the Send event"},
    {Event_Receive, "Event_Receive", "Corresponds to the Receive event."},
    {Event_Cts, "Event_Cts", "Corresponds to the CTSChanged event."},
    {Event_Dsr, "Event_Dsr", "Corresponds to the DSRChanged event."},
    {Event_Carrier, "Event_Carrier", "Corresponds to the CarrierChanged event"},
    {Event_Ring, "Event_Ring", "Corresponds to the Ring event"},
    {Event_Eof, "Event_Eof", "Corresponds to the EOF event"},
    {Event_Transfer, "Event_Transfer", "Can corresponds to any of the file transfer events."},
    {Error_None, "Error_None", "No error."},
    {Error_Break, "Error_Break", "Break signal detected."},
    {Error_CtsTimeOut, "Error_CtsTimeOut", "Comm-driver timeout waiting for CTS signal."},
    {Error_DsrTimeOut, "Error_DsrTimeOut", "Comm-driver timeout waiting for DSR signal."},
    {Error_FrameError, "Error_FrameError",
     "Framing error\xE2\x80\x94This is usually caused by an incorrect speed."},
    {Error_InputTimeOut, "Error_InputTimeOut", "Comm-driver timeout waiting for input."},
    {Error_DataOverrun, "Error_DataOverrun",
     "The Windows comm driver could not place incoming characters into the input buffer quickly enough. "
     "This means that the speed is too high for your computer, or that too many other things were going "
     "on for the processor to react in time."},
    {Error_CarrierTimeOut, "Error_CarrierTimeOut", "Comm-driver timeout waiting for input."},
    {Error_ReceiveBufferOverflow, "Error_ReceiveBufferOverflow",
     "The receive buffer was not large enough to BufferOverflow handle incoming characters. Use the "
     "InBufferSize property to make it larger, or use handshaking."},
    {Error_Parity, "Error_Parity", "An incoming character had an incorrect parity bit."},
    {Error_SendBufferOverflow, "Error_SendBufferOverflow",
     "The transmit buffer was not large enough to BufferOverflow handle the output you sent. Check the "
     "OutBufferCount property to determine whether there is enough room in the buffer for the characters "
     "you want to send."},
    {Error_DeviceRemoved, "Error_DeviceRemoved",
     "The port's device went away (unplugged). The port is closed; open it again once the device is back."},
};

template <std::size_t N>
const Named* find(const Named (&table)[N], std::int32_t id)
{
    for (const Named& n : table)
        if (n.id == id)
            return &n;
    return nullptr;
}

CQelComm* ownerOf(QcHandle object)
{
    CommObjectData* d = qelcomm::resolve(object);
    return d ? static_cast<CQelComm*>(d->owner) : nullptr;
}

}  // namespace

std::string EventName(std::int32_t dispid)
{
    const Named* n = find(kEvents, dispid);
    return n ? n->name : "";
}

std::string EventHelp(std::int32_t dispid)
{
    const Named* n = find(kEvents, dispid);
    return n ? n->help : "";
}

std::string CommEventName(std::int32_t code)
{
    const Named* n = find(kCodes, code);
    return n ? n->name : "";
}

std::string CommEventHelp(std::int32_t code)
{
    const Named* n = find(kCodes, code);
    return n ? n->help : "";
}

std::int32_t TransferEventFor(std::int32_t status)
{
    switch (status) {
    case TransferStatus_Failure:
    case TransferStatus_TransferAborting: return EventId::AbortFileTransfer;
    case TransferStatus_Success: return EventId::FinishFileTransfer;
    case TransferStatus_WaitForFile: return EventId::WaitForFile;
    case TransferStatus_Prepare: return EventId::PrepareFile;
    case TransferStatus_Starting: return EventId::StartFile;
    case TransferStatus_Transfering: return EventId::TransferBlock;
    case TransferStatus_FileAbort: return EventId::AbortFile;
    case TransferStatus_EndOfFile: return EventId::FinishFile;
    default: return 0;
    }
}

void ControlAccess::onEngineEvent(QcHandle object, int, int)
{
    if (CQelComm* c = ownerOf(object); c && c->m_hObject == object)
        c->handleCode(::GetLastCommEvent(object), true);
}

win::LResult ControlAccess::commandWindowProc(win::Hwnd hwnd, std::uint32_t msg, win::WParam wParam,
                                              win::LParam lParam)
{
    if (msg == win::WM_COMMAND && wParam == 0) {
        auto* c = reinterpret_cast<CQelComm*>(win::getWindowLongPtr(hwnd, win::GWLP_USERDATA));
        if (c && qelcomm::isObject(c->m_hObject))
            c->handleCode(::GetLastCommEvent(c->m_hObject), false);
        return 0;
    }
    // Other identifiers are the terminal toolbar's commands.
    return win::defWindowProc(hwnd, msg, wParam, lParam);
}

win::Hwnd ControlAccess::createCommandWindow(CQelComm& c)
{
    if (!win::isClassRegistered(kCommandWindowClass)) {
        win::WndClass cls;
        cls.name = kCommandWindowClass;
        cls.proc = &ControlAccess::commandWindowProc;
        win::registerClass(cls);
    }
    const win::Hwnd w = win::createWindow(kCommandWindowClass, "", win::WS_POPUP, 0);
    if (w)
        win::setWindowLongPtr(w, win::GWLP_USERDATA, reinterpret_cast<std::intptr_t>(&c));
    return w;
}

void CQelComm::fire(std::int32_t dispid)
{
    lt::automation::Args none;
    m_events.fire(dispid, none);
}

void CQelComm::notifyChanged(std::int32_t dispid)
{
    if (m_loadDepth > 0)
        return;   // loading or applying stored values is not a change
    lt::automation::Args none;
    m_propertyNotify.fire(dispid, none);
}

void CQelComm::refreshStatus()
{
    if (m_statusRefresh && m_loadDepth <= 0) {
        // The container's refresh may replace itself while it runs.
        const std::function<void()> refresh = m_statusRefresh;
        refresh();
    }
}

void CQelComm::handleCode(std::int32_t code, bool fromCallback)
{
    // A handler may destroy the control: look before every further step.
    auto alive = m_alive;
    if (!m_ignoreOnComm && code != Event_Transfer) {
        fire(EventId::OnComm);
        if (!*alive)
            return;
    }
    std::int32_t event = 0;
    switch (code) {
    case Event_Send: event = EventId::Send; break;
    case Event_Receive: event = EventId::Receive; break;
    case Event_Cts: event = EventId::CTSChanged; break;
    case Event_Dsr: event = EventId::DSRChanged; break;
    case Event_Carrier: event = EventId::CarrierChanged; break;
    case Event_Ring: event = EventId::Ring; break;
    case Event_Transfer: event = TransferEventFor(::GetTransferStatus(m_hObject)); break;
    default: return;   // EOF and line errors reach the container through OnComm only
    }
    if (!event)
        return;
    // Only the callback road writes event lines.
    if (fromCallback)
        ControlAccess::traceEvent(*this, event, {});
    fire(event);
    // The status bar shows the carrier; the command-message road leaves
    // it to the container.
    if (fromCallback && event == EventId::CarrierChanged && *alive)
        refreshStatus();
}

}  // namespace qelcomm::control
