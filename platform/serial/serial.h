// Serial ports with the calls and records of the Win32 communications API.
//
// The engine above speaks in DCBs, COMMTIMEOUTS, ClearCommError masks and
// escape functions; this layer carries them onto termios (serial_unix.cpp)
// or onto the in-process loopback double (serial_loopback.cpp) used by the
// tests for modem lines and line errors a pseudo-terminal cannot show.
// Names like "COM3" resolve through the device namespace (namespace.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace serial {

using Handle = std::intptr_t;
constexpr Handle INVALID_HANDLE_VALUE = -1;

// GetLastError codes.
constexpr std::uint32_t ERROR_SUCCESS = 0;
constexpr std::uint32_t ERROR_FILE_NOT_FOUND = 2;
constexpr std::uint32_t ERROR_ACCESS_DENIED = 5;
constexpr std::uint32_t ERROR_INVALID_HANDLE = 6;
constexpr std::uint32_t ERROR_GEN_FAILURE = 31;
constexpr std::uint32_t ERROR_SHARING_VIOLATION = 32;
constexpr std::uint32_t ERROR_NOT_SUPPORTED = 50;
constexpr std::uint32_t ERROR_INVALID_PARAMETER = 87;
constexpr std::uint32_t ERROR_SEM_TIMEOUT = 121;
constexpr std::uint32_t ERROR_DEVICE_REMOVED = 1617;   // the device went away (USB unplugged)

// DCB control modes.
constexpr std::uint8_t DTR_CONTROL_DISABLE = 0;
constexpr std::uint8_t DTR_CONTROL_ENABLE = 1;
constexpr std::uint8_t DTR_CONTROL_HANDSHAKE = 2;
constexpr std::uint8_t RTS_CONTROL_DISABLE = 0;
constexpr std::uint8_t RTS_CONTROL_ENABLE = 1;
constexpr std::uint8_t RTS_CONTROL_HANDSHAKE = 2;
constexpr std::uint8_t RTS_CONTROL_TOGGLE = 3;

constexpr std::uint8_t NOPARITY = 0, ODDPARITY = 1, EVENPARITY = 2, MARKPARITY = 3, SPACEPARITY = 4;
constexpr std::uint8_t ONESTOPBIT = 0, ONE5STOPBITS = 1, TWOSTOPBITS = 2;

// The line configuration record (Win32 DCB, bit fields as plain members).
struct DCB {
    std::uint32_t BaudRate = 9600;
    bool fBinary = true;
    bool fParity = false;
    bool fOutxCtsFlow = false;
    bool fOutxDsrFlow = false;
    std::uint8_t fDtrControl = DTR_CONTROL_ENABLE;
    bool fDsrSensitivity = false;
    bool fTXContinueOnXoff = false;
    bool fOutX = false;
    bool fInX = false;
    bool fErrorChar = false;
    bool fNull = false;
    std::uint8_t fRtsControl = RTS_CONTROL_ENABLE;
    bool fAbortOnError = false;
    std::uint16_t XonLim = 0;
    std::uint16_t XoffLim = 0;
    std::uint8_t ByteSize = 8;
    std::uint8_t Parity = NOPARITY;
    std::uint8_t StopBits = ONESTOPBIT;
    char XonChar = 17;
    char XoffChar = 19;
    char ErrorChar = 0;
    char EofChar = 26;
    char EvtChar = 0;
};

struct COMMTIMEOUTS {
    std::uint32_t ReadIntervalTimeout = 0;
    std::uint32_t ReadTotalTimeoutMultiplier = 0;
    std::uint32_t ReadTotalTimeoutConstant = 0;
    std::uint32_t WriteTotalTimeoutMultiplier = 0;
    std::uint32_t WriteTotalTimeoutConstant = 0;
};

struct COMSTAT {
    bool fCtsHold = false;
    bool fDsrHold = false;
    bool fRlsdHold = false;
    bool fXoffHold = false;
    bool fXoffSent = false;
    bool fEof = false;
    bool fTxim = false;
    std::uint32_t cbInQue = 0;
    std::uint32_t cbOutQue = 0;
};

// ClearCommError error bits.
constexpr std::uint32_t CE_RXOVER = 0x0001;
constexpr std::uint32_t CE_OVERRUN = 0x0002;
constexpr std::uint32_t CE_RXPARITY = 0x0004;
constexpr std::uint32_t CE_FRAME = 0x0008;
constexpr std::uint32_t CE_BREAK = 0x0010;
constexpr std::uint32_t CE_TXFULL = 0x0100;

// GetCommModemStatus bits.
constexpr std::uint32_t MS_CTS_ON = 0x0010;
constexpr std::uint32_t MS_DSR_ON = 0x0020;
constexpr std::uint32_t MS_RING_ON = 0x0040;
constexpr std::uint32_t MS_RLSD_ON = 0x0080;

// SetCommMask event bits.
constexpr std::uint32_t EV_RXCHAR = 0x0001;
constexpr std::uint32_t EV_RXFLAG = 0x0002;
constexpr std::uint32_t EV_TXEMPTY = 0x0004;
constexpr std::uint32_t EV_CTS = 0x0008;
constexpr std::uint32_t EV_DSR = 0x0010;
constexpr std::uint32_t EV_RLSD = 0x0020;
constexpr std::uint32_t EV_BREAK = 0x0040;
constexpr std::uint32_t EV_ERR = 0x0080;
constexpr std::uint32_t EV_RING = 0x0100;

// PurgeComm flags.
constexpr std::uint32_t PURGE_TXABORT = 0x0001;
constexpr std::uint32_t PURGE_RXABORT = 0x0002;
constexpr std::uint32_t PURGE_TXCLEAR = 0x0004;
constexpr std::uint32_t PURGE_RXCLEAR = 0x0008;

// EscapeCommFunction codes.
constexpr std::uint32_t SETXOFF = 1;
constexpr std::uint32_t SETXON = 2;
constexpr std::uint32_t SETRTS = 3;
constexpr std::uint32_t CLRRTS = 4;
constexpr std::uint32_t SETDTR = 5;
constexpr std::uint32_t CLRDTR = 6;
constexpr std::uint32_t SETBREAK = 8;
constexpr std::uint32_t CLRBREAK = 9;

// Opens a port by name ("COM3", "\\.\COM3", a device path, or a remote
// port "rfc2217://host:port", directly or through the ports map) for reading
// and writing, exclusively. INVALID_HANDLE_VALUE and lastError on failure:
// ERROR_FILE_NOT_FOUND when the name resolves to nothing that exists (or no
// server answers), ERROR_ACCESS_DENIED when another program holds the port
// (or the server closed the connection at once, as a server does for a port
// in use).
Handle CreateFile(const std::string& name);
bool CloseHandle(Handle h);

bool SetupComm(Handle h, std::uint32_t inQueue, std::uint32_t outQueue);
bool GetCommState(Handle h, DCB* dcb);
// Fails, leaving the previous configuration in force, when the device
// refuses any part of the new one.
bool SetCommState(Handle h, const DCB* dcb);
bool GetCommTimeouts(Handle h, COMMTIMEOUTS* t);
bool SetCommTimeouts(Handle h, const COMMTIMEOUTS* t);

// Reads the error bits (clearing them) and the queue status.
bool ClearCommError(Handle h, std::uint32_t* errors, COMSTAT* stat);
// Read and write honour the COMMTIMEOUTS; *done receives the byte count.
// Writes go through an output queue of the size given to SetupComm (4096
// bytes before any): a write that fits returns at once and the queue drains
// into the device as it takes bytes; only a write that does not fit waits,
// as long as the write time-outs allow. ClearCommError's cbOutQue counts
// what waits in the queue and in the device.
bool ReadFile(Handle h, void* buffer, std::uint32_t count, std::uint32_t* done);
bool WriteFile(Handle h, const void* buffer, std::uint32_t count, std::uint32_t* done);
bool PurgeComm(Handle h, std::uint32_t flags);
bool EscapeCommFunction(Handle h, std::uint32_t function);
bool SetCommBreak(Handle h);
bool ClearCommBreak(Handle h);
bool GetCommModemStatus(Handle h, std::uint32_t* status);
bool SetCommMask(Handle h, std::uint32_t mask);
bool GetCommMask(Handle h, std::uint32_t* mask);

// The queue sizes last given to SetupComm (0, 0 before any).
bool GetQueueSizes(Handle h, std::uint32_t* inQueue, std::uint32_t* outQueue);

// What a port notification reports; several may come together.
constexpr std::uint32_t NOTIFY_INPUT = 0x1;   // bytes arrived and wait to be read
constexpr std::uint32_t NOTIFY_ROOM = 0x2;    // the output queue handed bytes on to the device
constexpr std::uint32_t NOTIFY_GONE = 0x4;    // the device went away; calls now fail with ERROR_DEVICE_REMOVED
constexpr std::uint32_t NOTIFY_STATUS = 0x8;  // modem lines or line errors changed (a remote port tells)

// Calls fn, on the event loop of the thread that calls this, whenever the
// port has news (NOTIFY_*), so its owner need not poll; an empty fn stops
// the notifications. Fails with ERROR_NOT_SUPPORTED where the device cannot
// tell (the caller then polls). Notifications stop when the handle closes.
bool SetCommNotify(Handle h, std::function<void(std::uint32_t what)> fn);

std::uint32_t GetLastError();
void SetLastError(std::uint32_t code);

}  // namespace serial
