#pragma once

// In-process stand-in for the virtual serial port driver. Shaped like the
// Win32 device API the virtual port control calls: open a device by name,
// send it device-control requests, overlapped read, write and wait, close.
// Each port is a pseudo-terminal pair; other programs open its slave under a
// link in the port folder.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>

namespace kvd {

using Handle = int;
constexpr Handle kInvalidHandle = -1;

// Error codes, as GetLastError() reports them.
constexpr uint32_t kErrorSuccess = 0;
constexpr uint32_t kErrorFileNotFound = 2;
constexpr uint32_t kErrorAccessDenied = 5;
constexpr uint32_t kErrorInvalidHandle = 6;
constexpr uint32_t kErrorInvalidParameter = 87;
constexpr uint32_t kErrorAlreadyExists = 183;
constexpr uint32_t kErrorSharingViolation = 32;
constexpr uint32_t kErrorOperationAborted = 995;
constexpr uint32_t kErrorIoPending = 997;
constexpr uint32_t kErrorNotSupported = 50;
constexpr uint32_t kErrorGenFailure = 31;
constexpr uint32_t kErrorDeviceRemoved = 1617;  // the port was deleted under an open handle

// Control device requests.
constexpr uint32_t IOCTL_KVD_CREATE_PORT = 0x002A0000;
constexpr uint32_t IOCTL_KVD_DELETE_PORT = 0x002A0004;
constexpr uint32_t IOCTL_KVD_RESET_BUS = 0x002A0008;
constexpr uint32_t kCreatePortInputSize = 516;
constexpr uint32_t kDeletePortInputSize = 260;

// Port requests.
constexpr uint32_t IOCTL_SERIAL_SET_WAIT_MASK = 0x001B0044;
constexpr uint32_t IOCTL_KVD_GET_STATE = 0x001B0FA0;
constexpr uint32_t IOCTL_KVD_GET_TIMEOUTS = 0x001B0FA4;
constexpr uint32_t IOCTL_KVD_GET_BAUD_RATE = 0x001B0FAC;
constexpr uint32_t IOCTL_KVD_GET_LINE_CONTROL = 0x001B0FB0;
constexpr uint32_t IOCTL_KVD_GET_CHARS = 0x001B0FB4;
constexpr uint32_t IOCTL_KVD_GET_HANDFLOW = 0x001B0FB8;
constexpr uint32_t IOCTL_KVD_SET_RING = 0x001B0FDC;
constexpr uint32_t IOCTL_KVD_CLR_RING = 0x001B0FE0;
constexpr uint32_t IOCTL_KVD_SET_DCD = 0x001B0FE4;
constexpr uint32_t IOCTL_KVD_CLR_DCD = 0x001B0FE8;
constexpr uint32_t IOCTL_KVD_SET_TIMEOUTS = 0x001B0FEC;

// Port events.
constexpr uint32_t EV_RXCHAR = 0x00000001;
constexpr uint32_t EV_CTS = 0x00000008;
constexpr uint32_t EV_DSR = 0x00000010;
constexpr uint32_t EV_RING = 0x00000100;
constexpr uint32_t EV_KVD_BAUD = 0x02000000;
constexpr uint32_t EV_KVD_HANDFLOW = 0x04000000;
constexpr uint32_t EV_KVD_CHARS = 0x08000000;
constexpr uint32_t EV_KVD_TIMEOUTS = 0x20000000;
constexpr uint32_t EV_KVD_LINECTRL = 0x40000000;
constexpr uint32_t EV_KVD_OPENCLOSE = 0x80000000;
constexpr uint32_t kControlWaitMask = 0xEE000119;

// Purge flags, escape functions and modem status bits.
constexpr uint32_t PURGE_TXABORT = 0x1, PURGE_RXABORT = 0x2, PURGE_TXCLEAR = 0x4, PURGE_RXCLEAR = 0x8;
constexpr uint32_t SETRTS = 3, CLRRTS = 4, SETDTR = 5, CLRDTR = 6;
constexpr uint32_t MS_CTS_ON = 0x10, MS_DSR_ON = 0x20, MS_RING_ON = 0x40, MS_RLSD_ON = 0x80;

// Handflow bits.
constexpr uint32_t SERIAL_DTR_CONTROL = 0x01, SERIAL_CTS_HANDSHAKE = 0x08;
constexpr uint32_t SERIAL_AUTO_TRANSMIT = 0x01, SERIAL_AUTO_RECEIVE = 0x02;
constexpr uint32_t SERIAL_RTS_CONTROL = 0x40, SERIAL_RTS_HANDSHAKE = 0x80;

#pragma pack(push, 1)
struct SerialTimeouts {
    uint32_t ReadIntervalTimeout = 0, ReadTotalTimeoutMultiplier = 0, ReadTotalTimeoutConstant = 0,
             WriteTotalTimeoutMultiplier = 0, WriteTotalTimeoutConstant = 0;
};
struct SerialHandflow {
    uint32_t ControlHandShake = 0, FlowReplace = 0, XonLimit = 0, XoffLimit = 0;
};
struct SerialChars {
    uint8_t EofChar = 0, ErrorChar = 0, BreakChar = 0, EventChar = 0, XonChar = 0, XoffChar = 0;
};
struct SerialLineControl {
    uint8_t StopBits = 0, Parity = 0, WordLength = 8;
};
#pragma pack(pop)
static_assert(sizeof(SerialTimeouts) == 20 && sizeof(SerialHandflow) == 16);
static_assert(sizeof(SerialChars) == 6 && sizeof(SerialLineControl) == 3);

// The subset of a device-control block the control's end uses.
struct Dcb {
    uint32_t BaudRate = 0;
    uint8_t ByteSize = 8, Parity = 0, StopBits = 0;
};

struct ComStat {
    uint32_t cbInQue = 0, cbOutQue = 0;
};

// Manual-reset event a caller can wait on with a time-out.
class Event {
public:
    void set();
    void reset();
    bool wait(int timeoutMs);  // negative: no limit; true when signalled
private:
    std::mutex m_mutex;
    std::condition_variable m_cond;
    bool m_set = false;
};

// Overlapped record: the caller supplies the event; the driver fills in the
// outcome and signals the event when the request completes.
struct Overlapped {
    Event* hEvent = nullptr;
    uint32_t status = 0;  // error code of the completed request
    uint32_t bytes = 0;
    // Written last by the driver when it completes the request, so a caller
    // that sees it false also sees status and bytes.
    std::atomic<bool> pending{false};
};

// Opens "\\.\KVDControl" or "\\.\NULL_<name>" (UTF-16 path). Each can be
// held by one handle at a time.
Handle CreateFile(const std::u16string& path, bool overlapped);
bool CloseHandle(Handle h);
uint32_t GetLastError();

bool DeviceIoControl(Handle h, uint32_t code, const void* in, uint32_t inSize, void* out,
                     uint32_t outSize, uint32_t* returned, Overlapped* ov);
bool ReadFile(Handle h, void* buf, uint32_t size, uint32_t* read, Overlapped* ov);
bool WriteFile(Handle h, const void* buf, uint32_t size, uint32_t* written, Overlapped* ov);
bool WaitCommEvent(Handle h, uint32_t* mask, Overlapped* ov);
bool GetOverlappedResult(Handle h, Overlapped* ov, uint32_t* bytes, bool wait);
bool SetCommMask(Handle h, uint32_t mask);
bool ClearCommError(Handle h, uint32_t* errors, ComStat* stat);
bool GetCommModemStatus(Handle h, uint32_t* status);
bool PurgeComm(Handle h, uint32_t flags);
bool EscapeCommFunction(Handle h, uint32_t func);
bool GetCommState(Handle h, Dcb* dcb);
bool SetCommState(Handle h, const Dcb* dcb);
bool SetupComm(Handle h, uint32_t inQueue, uint32_t outQueue);

// Folder holding the port links: $LINTREL_PORT_DIR, else
// $XDG_RUNTIME_DIR/lintrel, else /tmp/lintrel-<uid>; created 0700 if missing.
std::string portFolder();

// Cross-process lock "KVDControlMutex": behaves as an auto-reset event that
// starts signalled. wait() takes it (at most timeoutMs), signal() gives it
// back; signalling an already signalled lock leaves it signalled once.
class NamedLock {
public:
    explicit NamedLock(const std::string& name);
    ~NamedLock();
    NamedLock(const NamedLock&) = delete;
    NamedLock& operator=(const NamedLock&) = delete;
    bool valid() const { return m_sem != nullptr; }
    bool wait(int timeoutMs);
    void signal();

private:
    void* m_sem = nullptr;
};

}  // namespace kvd
