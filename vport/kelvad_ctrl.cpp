#include "kelvad_ctrl.h"
#include "kelvad_register.h"

#include "driver_protocol.h"
#include "event_window.h"

#include <algorithm>
#include <cstring>
#include <vector>

using namespace kelvad;
using lt::automation::Args;
using lt::automation::ErrorInfo;
using lt::automation::Variant;

namespace {

void putLength(std::vector<std::uint8_t>& buf)
{
    const auto len = static_cast<std::uint32_t>(buf.size());
    std::memcpy(buf.data(), &len, sizeof len);
}

void putUnits(std::vector<std::uint8_t>& buf, const std::u16string& text, std::size_t maxUnits)
{
    const std::size_t n = std::min(text.size(), maxUnits);
    std::memcpy(buf.data() + 4, text.data(), n * sizeof(char16_t));
}

}  // namespace

CKelvadCtrl::CKelvadCtrl()
{
    kelvad::NoteControlCreated();
    buildDispatch();
    // Signalled once so that a lock another instance left taken is free.
    m_hControlLock = std::make_unique<kvd::NamedLock>("KVDControlMutex");
    if (m_hControlLock->valid())
        m_hControlLock->signal();
    else
        m_hControlLock.reset();
}

CKelvadCtrl::~CKelvadCtrl()
{
    kelvad::NoteControlDestroyed();
    destroyEventWindow();
    if (m_created && m_deleteOnExit)
        Delete();
    if (m_hPort != kvd::kInvalidHandle) {
        kvd::CloseHandle(m_hPort);
        m_hPort = kvd::kInvalidHandle;
    }
    stopThread();
    if (m_hControlLock) {
        m_hControlLock->signal();
        m_hControlLock.reset();
    }
}

bool CKelvadCtrl::checkName(const std::string& name, std::u16string& wide) const
{
    if (m_created || name.empty() || name.size() > kMaxPortName)
        return false;
    if (name.find('\0') != std::string::npos)
        return false;
    // Names are byte strings: each byte becomes one unit.
    wide.clear();
    for (unsigned char c : name)
        wide += char16_t(c);
    return wide.size() <= kMaxAcceptedPortName;
}

bool CKelvadCtrl::CreatePort(const std::string& PortName)
{
    std::u16string wide;
    if (!checkName(PortName, wide))
        return false;
    const kvd::Handle device = AcquireControlDevice();
    if (device == kvd::kInvalidHandle)
        return false;
    std::vector<std::uint8_t> request(kvd::kCreatePortInputSize, 0);
    putLength(request);
    putUnits(request, wide, kMaxPortName);  // unit 128 stays zero
    bool created = false;
    for (int attempt = 0; attempt < kAttempts && !created; ++attempt) {
        created = sendControlRequest(device, kvd::IOCTL_KVD_CREATE_PORT, request.data(),
                                     std::uint32_t(request.size()));
        if (!created)
            win::sleepMs(kAttemptPauseMs);
    }
    ReleaseControlDevice(device);
    if (!created)
        return false;
    m_created = true;
    m_deviceName = u"NULL_" + wide;
    if (AttachPort() == AttachResult::Ok)
        return true;
    Delete();
    return false;
}

bool CKelvadCtrl::Open(const std::string& PortName)
{
    std::u16string wide;
    if (!checkName(PortName, wide))
        return false;
    m_created = true;
    m_deviceName = u"NULL_" + wide;
    switch (AttachPort()) {
    case AttachResult::Ok:
        return true;
    case AttachResult::NoPortEnd:
        // No such port, or another control serves it: nothing of ours to
        // delete, and deleting would take the port from its holder.
        m_created = false;
        m_deviceName.clear();
        return false;
    case AttachResult::DriverSilent:
        break;
    }
    Delete();
    return false;
}

bool CKelvadCtrl::Delete()
{
    if (!m_created)
        return false;
    const kvd::Handle device = AcquireControlDevice();
    if (device == kvd::kInvalidHandle)
        return false;
    if (m_hPort != kvd::kInvalidHandle) {
        kvd::CloseHandle(m_hPort);  // ends the port event thread's wait
        m_hPort = kvd::kInvalidHandle;
    }
    stopThread();
    destroyEventWindow();

    std::vector<std::uint8_t> request(kvd::kDeletePortInputSize, 0);
    putLength(request);
    putUnits(request, m_deviceName, 128);
    bool deleted = false;
    for (int attempt = 0; attempt < kAttempts && !deleted; ++attempt) {
        deleted = sendControlRequest(device, kvd::IOCTL_KVD_DELETE_PORT, request.data(),
                                     std::uint32_t(request.size()));
        if (!deleted)
            win::sleepMs(kAttemptPauseMs);
    }
    ReleaseControlDevice(device);
    if (!deleted) {
        AttachPort();  // keep serving the port the driver kept
        return false;
    }
    m_created = false;
    m_opened = false;
    return true;
}

bool CKelvadCtrl::IsOpened() const
{
    return m_opened;
}

std::string CKelvadCtrl::PortName() const
{
    std::string name;
    if (m_created)
        for (std::size_t i = 5; i < m_deviceName.size(); ++i)
            name += char(m_deviceName[i]);
    return name;
}

std::int32_t CKelvadCtrl::Write(const std::uint8_t* Buffer, std::int32_t Count)
{
    if (!attached() || Count <= 0 || !Buffer)
        return 0;
    kvd::Event event;
    kvd::Overlapped ov;
    ov.hEvent = &event;
    std::uint32_t written = 0;
    if (!kvd::WriteFile(m_hPort, Buffer, std::uint32_t(Count), &written, &ov)) {
        if (kvd::GetLastError() != kvd::kErrorIoPending)
            return 0;
        if (!kvd::GetOverlappedResult(m_hPort, &ov, &written, true))
            return 0;
    }
    return std::int32_t(written);
}

std::int32_t CKelvadCtrl::Read(std::uint8_t* Buffer, std::int32_t Count)
{
    // A negative count says nothing about the buffer's size: read nothing.
    if (!attached() || Count <= 0 || !Buffer)
        return 0;
    const std::uint32_t n = std::min(std::uint32_t(Count), std::uint32_t(GetInCount()));
    if (n == 0)
        return 0;
    kvd::Event event;
    kvd::Overlapped ov;
    ov.hEvent = &event;
    std::uint32_t got = 0;
    if (!kvd::ReadFile(m_hPort, Buffer, n, &got, &ov)) {
        if (kvd::GetLastError() != kvd::kErrorIoPending)
            return 0;
        if (!kvd::GetOverlappedResult(m_hPort, &ov, &got, true))
            return 0;
    }
    return std::int32_t(got);
}

bool CKelvadCtrl::SetDSR(bool On)
{
    return attached() && kvd::EscapeCommFunction(m_hPort, On ? kvd::SETDTR : kvd::CLRDTR);
}

bool CKelvadCtrl::SetCTS(bool On)
{
    return attached() && kvd::EscapeCommFunction(m_hPort, On ? kvd::SETRTS : kvd::CLRRTS);
}

// The driver's answer to the signal and time-out requests is not examined.
bool CKelvadCtrl::SetRING(bool On)
{
    if (!attached())
        return false;
    portRequest(m_hPort, On ? kvd::IOCTL_KVD_SET_RING : kvd::IOCTL_KVD_CLR_RING, nullptr, 0, nullptr, 0, -1);
    return true;
}

bool CKelvadCtrl::SetDCD(bool On)
{
    if (!attached())
        return false;
    portRequest(m_hPort, On ? kvd::IOCTL_KVD_SET_DCD : kvd::IOCTL_KVD_CLR_DCD, nullptr, 0, nullptr, 0, -1);
    return true;
}

bool CKelvadCtrl::SetTimeouts(std::int32_t ReadIntervalTimeout, std::int32_t ReadTotalTimeoutMultiplier,
                              std::int32_t ReadTotalTimeoutConstant, std::int32_t WriteTotalTimeoutMultiplier,
                              std::int32_t WriteTotalTimeoutConstant)
{
    if (!attached())
        return false;
    kvd::SerialTimeouts t;
    t.ReadIntervalTimeout = std::uint32_t(ReadIntervalTimeout);
    t.ReadTotalTimeoutMultiplier = std::uint32_t(ReadTotalTimeoutMultiplier);
    t.ReadTotalTimeoutConstant = std::uint32_t(ReadTotalTimeoutConstant);
    t.WriteTotalTimeoutMultiplier = std::uint32_t(WriteTotalTimeoutMultiplier);
    t.WriteTotalTimeoutConstant = std::uint32_t(WriteTotalTimeoutConstant);
    portRequest(m_hPort, kvd::IOCTL_KVD_SET_TIMEOUTS, &t, sizeof t, nullptr, 0, -1);
    return true;
}

std::int32_t CKelvadCtrl::GetInCount()
{
    if (!attached())
        return 0;
    std::uint32_t errors = 0;
    kvd::ComStat stat;
    if (!kvd::ClearCommError(m_hPort, &errors, &stat))
        return 0;
    return std::int32_t(stat.cbInQue);
}

bool CKelvadCtrl::PurgeQueue()
{
    if (attached())
        kvd::PurgeComm(m_hPort, kvd::PURGE_RXCLEAR);
    return true;
}

bool CKelvadCtrl::ResetBus()
{
    const kvd::Handle device = AcquireControlDevice();
    if (device == kvd::kInvalidHandle)
        return false;
    const bool ok = sendControlRequest(device, kvd::IOCTL_KVD_RESET_BUS, nullptr, 0);
    ReleaseControlDevice(device);
    return ok;
}

void CKelvadCtrl::SetDeleteOnExit(bool on)
{
    m_deleteOnExit = on ? 1 : 0;
    SetModifiedFlag();
}

void CKelvadCtrl::AboutBox()
{
    if (m_aboutBox)
        m_aboutBox();
}

void CKelvadCtrl::FireEvent(std::int32_t dispid, Args& args)
{
    m_events.fire(dispid, args);
}

// ---------------------------------------------------------------- dispatch

namespace {

ErrorInfo badArguments()
{
    ErrorInfo e;
    e.hresult = lt::automation::kTypeMismatch;
    return e;
}

std::optional<std::int32_t> longArg(const Args& args, std::size_t i)
{
    return i < args.size() && args[i] ? args[i]->toInt32() : std::nullopt;
}

}  // namespace

void CKelvadCtrl::buildDispatch()
{
    auto& d = m_dispatch;
    auto boolMethod = [&d](std::int32_t id, const char* name, std::function<bool()> f) {
        d.addMethod(id, name, [f](Args&, Variant& r) {
            r = Variant::fromBool(f());
            return ErrorInfo{};
        });
    };
    auto nameMethod = [&d](std::int32_t id, const char* name, std::function<bool(const std::string&)> f) {
        d.addMethod(id, name, [f](Args& a, Variant& r) {
            if (a.empty() || !a[0])
                return badArguments();
            r = Variant::fromBool(f(a[0]->toString()));
            return ErrorInfo{};
        });
    };
    auto onMethod = [&d](std::int32_t id, const char* name, std::function<bool(bool)> f) {
        d.addMethod(id, name, [f](Args& a, Variant& r) {
            if (a.empty() || !a[0])
                return badArguments();
            r = Variant::fromBool(f(a[0]->toBool()));
            return ErrorInfo{};
        });
    };

    d.addMethod(DISPID_ABOUTBOX, "AboutBox", [this](Args&, Variant&) {
        AboutBox();
        return ErrorInfo{};
    });
    nameMethod(DISPID_CREATEPORT, "CreatePort", [this](const std::string& n) { return CreatePort(n); });
    boolMethod(DISPID_DELETE, "Delete", [this] { return Delete(); });
    nameMethod(DISPID_OPEN, "Open", [this](const std::string& n) { return Open(n); });
    boolMethod(DISPID_ISOPENED, "IsOpened", [this] { return IsOpened(); });
    // Buffer travels as a byte string; Write never reads past its end.
    d.addMethod(DISPID_WRITE, "Write", [this](Args& a, Variant& r) {
        const auto count = longArg(a, 1);
        if (!count || !a[0])
            return badArguments();
        const std::string bytes = a[0]->toString();
        const auto n = std::min<std::int64_t>(*count, std::int64_t(bytes.size()));
        r = Variant(Write(reinterpret_cast<const std::uint8_t*>(bytes.data()), std::int32_t(n)));
        return ErrorInfo{};
    });
    // Read hands the bytes back in Buffer.
    d.addMethod(DISPID_READ, "Read", [this](Args& a, Variant& r) {
        const auto count = longArg(a, 1);
        if (!count || !a[0])
            return badArguments();
        std::string bytes(std::size_t(std::clamp<std::int32_t>(*count, 0, std::int32_t(kQueueSize))), '\0');
        const std::int32_t n = Read(reinterpret_cast<std::uint8_t*>(bytes.data()), std::int32_t(bytes.size()));
        bytes.resize(std::size_t(n));
        *a[0] = Variant(bytes);
        r = Variant(n);
        return ErrorInfo{};
    });
    onMethod(DISPID_SETDSR, "SetDSR", [this](bool on) { return SetDSR(on); });
    onMethod(DISPID_SETCTS, "SetCTS", [this](bool on) { return SetCTS(on); });
    onMethod(DISPID_SETRING, "SetRING", [this](bool on) { return SetRING(on); });
    onMethod(DISPID_SETDCD, "SetDCD", [this](bool on) { return SetDCD(on); });
    d.addMethod(DISPID_SETTIMEOUTS, "SetTimeouts", [this](Args& a, Variant& r) {
        std::int32_t v[5];
        for (std::size_t i = 0; i < 5; ++i) {
            const auto x = longArg(a, i);
            if (!x)
                return badArguments();
            v[i] = *x;
        }
        r = Variant::fromBool(SetTimeouts(v[0], v[1], v[2], v[3], v[4]));
        return ErrorInfo{};
    });
    d.addMethod(DISPID_GETINCOUNT, "GetInCount", [this](Args&, Variant& r) {
        r = Variant(GetInCount());
        return ErrorInfo{};
    });
    boolMethod(DISPID_PURGEQUEUE, "PurgeQueue", [this] { return PurgeQueue(); });
    boolMethod(DISPID_RESETBUS, "ResetBus", [this] { return ResetBus(); });
    d.addProperty(
        DISPID_DELETEONEXIT, "DeleteOnExit", [this] { return Variant::fromBool(DeleteOnExit()); },
        [this](const Variant& v) {
            SetDeleteOnExit(v.toBool());
            return ErrorInfo{};
        });
}
