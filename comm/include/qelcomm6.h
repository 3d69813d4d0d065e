/*
 * qelcomm6.h - the QelComm6 serial communications library as plain C.
 *
 * A program creates a comm object, keeps the returned handle and passes it
 * first to every other call:
 *
 *     QcHandle port = CreateCommObject(0);
 *     SetCommPort(port, 5);                 // COM5, see the README for names
 *     SetSettings(port, "9600,n,8,1");      // 0, or 380 for a rejected text
 *     SetPortOpen(port, 1);                 // 1 on success
 *     Output(port, "AT\r", 3);
 *     ...
 *     DestroyCommObject(port);
 *
 * Conventions of every call:
 * - A handle is an opaque, pointer-sized value; 0 is "no object". A handle
 *   that is not a comm object makes any call a harmless no-op returning 0
 *   (an empty text, an untouched buffer).
 * - Integers and flags are 32-bit; flags are 0 = false, anything else true;
 *   times are milliseconds; texts are zero-terminated byte strings; buffers
 *   are supplied and owned by the caller.
 * - Setters store what they are given and return nothing to rely on, except
 *   SetPortOpen (1 on success or no change, 0 on failure), SetSettings (0 or
 *   380) and SetCommID (1 attached, 0 detached). Reading back always gives
 *   the stored value, whether or not the driver accepted it.
 *
 * Threads and events: a comm object belongs to the thread that created it;
 * its polling timer and its events run on that thread. Blocking calls
 * (FlushOutputBuffer, ComPause, InputUntilLookUp, Dial, ...) keep that
 * thread's events flowing while they wait. A program with no event loop of
 * its own calls PumpCommEvents regularly, or whenever it would otherwise
 * sleep, so that polling runs and the handler set with SetEventHandler is
 * called. InitQelCommObjects (called by CreateCommObject) prepares what the
 * library needs on a thread that has nothing (it makes the process's Qt
 * application object when there is none: a QApplication when a display is
 * configured (DISPLAY, WAYLAND_DISPLAY or QT_QPA_PLATFORM) and the port
 * settings dialog's library is installed, else a core application; a Qt
 * program makes its own QApplication before its first comm object and runs
 * its own event loop). Without a QGuiApplication, CopySelectionToClipboard
 * returns 0.
 *
 * The members with C++ linkage (SetLookUpSeparator, ComOutput, the qelbas
 * script functions, ...) are declared in qelcomm6.hpp.
 *
 * Build with: cc prog.c $(pkg-config --cflags --libs qelcomm6)
 */
#ifndef QELCOMM6_H
#define QELCOMM6_H

#include <stdint.h>
#ifdef __cplusplus
#include <cstdint>
#endif

#if defined(QELCOMM_BUILD)
#define QELCOMM6_EXPORT __attribute__((visibility("default")))
#else
#define QELCOMM6_EXPORT
#endif

#ifdef __cplusplus
/* C++ carries the handle as an integer of pointer size; C as a pointer to
 * an incomplete type. Both are passed the same way by the platform ABI. */
typedef std::uintptr_t QcHandle;
extern "C" {
#else
typedef struct QcCommObject* QcHandle;
#endif

typedef intptr_t QcDevice;  /* a device handle, for SetCommID */
/* Called on the object's thread for every event: code is one of the
 * QC_EVENT_ or QC_ERROR_ values, controlId the object's child id. */
typedef void (*QcEventHandler)(QcHandle object, int controlId, int code);
/* Called on every round of a wait (SetIdleLoop). */
typedef void (*QcIdleLoop)(void);

/* Event codes passed to the event handler and kept by GetLastCommEvent. */
enum {
    QC_EVENT_SEND = 1,
    QC_EVENT_RECEIVE = 2,
    QC_EVENT_CTS = 3,
    QC_EVENT_DSR = 4,
    QC_EVENT_CARRIER = 5,
    QC_EVENT_RING = 6,
    QC_EVENT_EOF = 7,
    QC_EVENT_TRANSFER = 100,
    QC_ERROR_BREAK = 1001,
    QC_ERROR_CTS_TIMEOUT = 1002,
    QC_ERROR_DSR_TIMEOUT = 1003,
    QC_ERROR_FRAME = 1004,
    QC_ERROR_INPUT_TIMEOUT = 1005,
    QC_ERROR_OVERRUN = 1006,
    QC_ERROR_CARRIER_TIMEOUT = 1007,
    QC_ERROR_RX_OVERFLOW = 1008,
    QC_ERROR_PARITY = 1009,
    QC_ERROR_TX_OVERFLOW = 1010,
    /* The port's device went away (a USB adapter unplugged, the far end of
     * a pseudo-terminal closed). The port is closed by then (GetPortOpen
     * reads 0); opening it again works once the device is back. */
    QC_ERROR_DEVICE_REMOVED = 1011
};

/* ---- Running without an event loop ------------------------------------ */

/* Runs the calling thread's pending timers and events for about
 * milliseconds ms (0 or less: only what is pending now), then returns 1.
 * Returns 0 at once when the thread cannot run events: a thread other than
 * the one that has the process's Qt application object (the first to call
 * InitQelCommObjects, CreateCommObject or this function in a program
 * without one), unless Qt started it. Event handlers run inside this call. */
QELCOMM6_EXPORT int32_t PumpCommEvents(int32_t milliseconds);

/* ---- Object life ------------------------------------------------------- */

QELCOMM6_EXPORT int32_t InitQelCommObjects(void);
QELCOMM6_EXPORT QcHandle CreateCommObject(QcHandle parent);
QELCOMM6_EXPORT int32_t DestroyCommObject(QcHandle object);

/* ---- Port life --------------------------------------------------------- */

/* The number n names "COMn"; stored only while the port is closed. */
QELCOMM6_EXPORT void SetCommPort(QcHandle object, int32_t number);
QELCOMM6_EXPORT int32_t GetCommPort(QcHandle object);
QELCOMM6_EXPORT int32_t SetPortOpen(QcHandle object, int32_t open);
QELCOMM6_EXPORT int32_t GetPortOpen(QcHandle object);
QELCOMM6_EXPORT void SetInBufferSize(QcHandle object, int32_t bytes);
QELCOMM6_EXPORT int32_t GetInBufferSize(QcHandle object);
QELCOMM6_EXPORT void SetOutBufferSize(QcHandle object, int32_t bytes);
QELCOMM6_EXPORT int32_t GetOutBufferSize(QcHandle object);
QELCOMM6_EXPORT int32_t SetCommID(QcHandle object, QcDevice handle);
QELCOMM6_EXPORT QcDevice GetCommID(QcHandle object);

/* ---- Line settings and signals ----------------------------------------- */

/* GetSettings writes at most 20 bytes (19 characters and the terminator)
 * and returns the text's length. */
QELCOMM6_EXPORT int32_t SetSettings(QcHandle object, const char* text);
QELCOMM6_EXPORT int32_t GetSettings(QcHandle object, char* buffer);
QELCOMM6_EXPORT void SetHandshaking(QcHandle object, int32_t value);
QELCOMM6_EXPORT int32_t GetHandshaking(QcHandle object);
QELCOMM6_EXPORT void SetParityReplace(QcHandle object, int32_t code);
QELCOMM6_EXPORT int32_t GetParityReplace(QcHandle object);
QELCOMM6_EXPORT void SetDiscardNulls(QcHandle object, int32_t flag);
QELCOMM6_EXPORT int32_t GetDiscardNulls(QcHandle object);
/* Stored only; the driver sees it at the next apply of the line settings. */
QELCOMM6_EXPORT void SetNullDiscard(QcHandle object, int32_t flag);
QELCOMM6_EXPORT int32_t GetNullDiscard(QcHandle object);
QELCOMM6_EXPORT void SetDTR(QcHandle object, int32_t flag);
QELCOMM6_EXPORT int32_t GetDTR(QcHandle object);
QELCOMM6_EXPORT void SetRTS(QcHandle object, int32_t flag);
QELCOMM6_EXPORT int32_t GetRTS(QcHandle object);
QELCOMM6_EXPORT void SetBreak(QcHandle object, int32_t flag);
QELCOMM6_EXPORT int32_t GetBreak(QcHandle object);
QELCOMM6_EXPORT int32_t GetCTS(QcHandle object);
QELCOMM6_EXPORT int32_t GetDSR(QcHandle object);
QELCOMM6_EXPORT int32_t GetCarrier(QcHandle object);
QELCOMM6_EXPORT void SetCTSTimeOut(QcHandle object, uint32_t ms);
QELCOMM6_EXPORT uint32_t GetCTSTimeOut(QcHandle object);
QELCOMM6_EXPORT void SetDSRTimeOut(QcHandle object, uint32_t ms);
QELCOMM6_EXPORT uint32_t GetDSRTimeOut(QcHandle object);
QELCOMM6_EXPORT void SetCarrierTimeOut(QcHandle object, uint32_t ms);
QELCOMM6_EXPORT uint32_t GetCarrierTimeOut(QcHandle object);
/* The driver's input time-out; does not touch GetInputTimeOut. */
QELCOMM6_EXPORT void SetDriverInputTimeOut(QcHandle object, uint32_t ms);
QELCOMM6_EXPORT uint32_t GetDriverInputTimeOut(QcHandle object);
/* The modal port settings dialog over parent: 1 when OK applied the
 * choice (SetSettings, then SetHandshaking), 0 for Cancel. The dialog comes
 * from its widgets library (libqelcomm6_port_dialog), loaded from beside
 * this library when the program does not link it; 0 at once when that
 * library is missing or no window can show (a program without a display,
 * or whose application object is not a QApplication). */
QELCOMM6_EXPORT int32_t PortSettingsDialog(QcHandle object, QcHandle parent);

/* ---- Input and output -------------------------------------------------- */

QELCOMM6_EXPORT int32_t GetInput(QcHandle object, void* buffer, int32_t count);
QELCOMM6_EXPORT int32_t GetLineInput(QcHandle object, char* buffer, int32_t size);
QELCOMM6_EXPORT int32_t GetInBufferCount(QcHandle object);
QELCOMM6_EXPORT void ClearInputBuffer(QcHandle object);
QELCOMM6_EXPORT int32_t FlushInputBuffer(QcHandle object, uint32_t ms);
/* 1 when every byte was written, 0 otherwise (a closed port, or what the
 * driver did not take: in one attempt with an output time-out of 0, else
 * within the time-out). */
QELCOMM6_EXPORT int32_t Output(QcHandle object, const void* bytes, int32_t count);
/* "^M" sends a control character, "~" pauses one second. */
QELCOMM6_EXPORT int32_t OutputModem(QcHandle object, const char* text);
QELCOMM6_EXPORT int32_t GetOutBufferCount(QcHandle object);
QELCOMM6_EXPORT void ClearOutputBuffer(QcHandle object);
QELCOMM6_EXPORT int32_t FlushOutputBuffer(QcHandle object, uint32_t ms);
QELCOMM6_EXPORT void SetInputTimeOut(QcHandle object, uint32_t ms);
QELCOMM6_EXPORT uint32_t GetInputTimeOut(QcHandle object);
QELCOMM6_EXPORT void SetOutputTimeOut(QcHandle object, uint32_t ms);
QELCOMM6_EXPORT uint32_t GetOutputTimeOut(QcHandle object);
QELCOMM6_EXPORT void ComPause(QcHandle object, uint32_t ms);
QELCOMM6_EXPORT void SetIdleLoop(QcHandle object, QcIdleLoop callback);
QELCOMM6_EXPORT void SetShutDown(QcHandle object, int32_t flag);
QELCOMM6_EXPORT int32_t GetShutDown(QcHandle object);
QELCOMM6_EXPORT int32_t GetBusy(QcHandle object);
QELCOMM6_EXPORT void WaitUntilTransferIsFinished(QcHandle object);
QELCOMM6_EXPORT void SetEcho(QcHandle object, int32_t flag);
QELCOMM6_EXPORT int32_t GetEcho(QcHandle object);
QELCOMM6_EXPORT void SetInputEcho(QcHandle object, int32_t flag);
QELCOMM6_EXPORT int32_t GetInputEcho(QcHandle object);
QELCOMM6_EXPORT void SetCommEcho(QcHandle object, int32_t flag);
QELCOMM6_EXPORT int32_t GetCommEcho(QcHandle object);

/* ---- Polling, events and look-up --------------------------------------- */

QELCOMM6_EXPORT void SetInterval(QcHandle object, uint32_t ms);
QELCOMM6_EXPORT uint32_t GetInterval(QcHandle object);
/* Wake on data (off by default): the port itself tells the object when
 * bytes arrive, when its output queue hands bytes on, or when its device
 * goes away, and a polling tick runs at once instead of at the next
 * interval, so a receive event comes within microseconds. The tick, its
 * events and their order stay the same; only when ticks run changes. While
 * the port wakes the object, the timer ticks at most once a second (the
 * interval when that is longer) for what no port reports: modem lines, line
 * errors, and the thresholds' repeated events. A port that cannot notify
 * (the tests' loopback double) keeps being polled at the interval. */
QELCOMM6_EXPORT void SetWakeOnData(QcHandle object, int32_t flag);
QELCOMM6_EXPORT int32_t GetWakeOnData(QcHandle object);
QELCOMM6_EXPORT void SetRThreshold(QcHandle object, int32_t count);
QELCOMM6_EXPORT int32_t GetRThreshold(QcHandle object);
QELCOMM6_EXPORT void SetSThreshold(QcHandle object, int32_t count);
QELCOMM6_EXPORT int32_t GetSThreshold(QcHandle object);
QELCOMM6_EXPORT void SetAutoProcess(QcHandle object, int32_t bits);
QELCOMM6_EXPORT int32_t GetAutoProcess(QcHandle object);
QELCOMM6_EXPORT void SetEventHandler(QcHandle object, QcEventHandler callback);
QELCOMM6_EXPORT int32_t GetLastCommEvent(QcHandle object);
QELCOMM6_EXPORT uint32_t GetLastCommError(QcHandle object);
QELCOMM6_EXPORT void SetLookUpTimeOut(QcHandle object, uint32_t ms);
QELCOMM6_EXPORT uint32_t GetLookUpTimeOut(QcHandle object);
/* list holds the texts to wait for, split by the look-up separator. */
QELCOMM6_EXPORT int32_t InputUntilLookUp(QcHandle object, const char* list, char* out, int32_t outSize);
QELCOMM6_EXPORT int32_t DiscardUntilLookUp(QcHandle object, const char* list);

/* ---- Values kept for the caller ---------------------------------------- */

QELCOMM6_EXPORT void SetCommLong(QcHandle object, uint32_t value);
QELCOMM6_EXPORT uint32_t GetCommLong(QcHandle object);
QELCOMM6_EXPORT void SetNotification(QcHandle object, int32_t value);
QELCOMM6_EXPORT int32_t GetNotification(QcHandle object);

/* ---- Terminal ---------------------------------------------------------- */

/* Text getters copy at most size - 1 bytes and a terminator and return
 * the length copied. */
QELCOMM6_EXPORT void TerminalWrite(QcHandle object, const void* bytes, int32_t n);
QELCOMM6_EXPORT void TerminalPrintString(QcHandle object, const char* text);
QELCOMM6_EXPORT void SetEmulation(QcHandle object, int32_t emulation);
QELCOMM6_EXPORT int32_t GetEmulation(QcHandle object);
QELCOMM6_EXPORT int32_t SetColumns(QcHandle object, int32_t n);
QELCOMM6_EXPORT int32_t GetColumns(QcHandle object);
QELCOMM6_EXPORT int32_t SetRows(QcHandle object, int32_t n);
QELCOMM6_EXPORT int32_t GetRows(QcHandle object);
QELCOMM6_EXPORT void SetColor(QcHandle object, int32_t attribute);
QELCOMM6_EXPORT int32_t GetColor(QcHandle object);
QELCOMM6_EXPORT void SetEndOfLineMode(QcHandle object, int32_t mode);
QELCOMM6_EXPORT int32_t GetEndOfLineMode(QcHandle object);
QELCOMM6_EXPORT void SetBackspace(QcHandle object, int32_t mode);
QELCOMM6_EXPORT int32_t GetBackspace(QcHandle object);
QELCOMM6_EXPORT void SetCursorRow(QcHandle object, int32_t row);
QELCOMM6_EXPORT int32_t GetCursorRow(QcHandle object);
QELCOMM6_EXPORT void SetCursorColumn(QcHandle object, int32_t column);
QELCOMM6_EXPORT int32_t GetCursorColumn(QcHandle object);
QELCOMM6_EXPORT int32_t SetScrollRows(QcHandle object, int32_t rows);
QELCOMM6_EXPORT int32_t GetScrollRows(QcHandle object);
QELCOMM6_EXPORT int32_t GetContents(QcHandle object, char* buffer, int32_t size);
QELCOMM6_EXPORT int32_t GetContentsLength(QcHandle object);
QELCOMM6_EXPORT int32_t GetScrollContents(QcHandle object, char* buffer, int32_t size);
QELCOMM6_EXPORT int32_t GetScrollContentsLength(QcHandle object);
QELCOMM6_EXPORT void SetContents(QcHandle object, const void* bytes, int32_t n);
QELCOMM6_EXPORT int32_t SetSelectionStart(QcHandle object, int32_t position);
QELCOMM6_EXPORT int32_t GetSelectionStart(QcHandle object);
QELCOMM6_EXPORT int32_t SetSelectionLength(QcHandle object, int32_t length);
QELCOMM6_EXPORT int32_t GetSelectionLength(QcHandle object);
QELCOMM6_EXPORT int32_t GetSelectionText(QcHandle object, char* buffer, int32_t size);
QELCOMM6_EXPORT int32_t CopySelectionToClipboard(QcHandle object);
QELCOMM6_EXPORT int32_t SetCaptureFilename(QcHandle object, const char* name);
QELCOMM6_EXPORT void SetCaptureMode(QcHandle object, int32_t mode);
QELCOMM6_EXPORT int32_t GetCaptureMode(QcHandle object);
QELCOMM6_EXPORT void SetColorFilter(QcHandle object, int32_t filter);
QELCOMM6_EXPORT int32_t GetColorFilter(QcHandle object);
QELCOMM6_EXPORT void SetAutoSize(QcHandle object, int32_t mode);
QELCOMM6_EXPORT int32_t GetAutoSize(QcHandle object);
QELCOMM6_EXPORT void SetAutoScroll(QcHandle object, int32_t value);
QELCOMM6_EXPORT int32_t GetAutoScroll(QcHandle object);
/* Character set: 0 the PC code page (the default: one byte a cell), 1 UTF-8
 * (wide characters take two cells; the texts above are then UTF-8 too).
 * Rendition: 0 the 16 PC colours (the default), 1 the extended set: 256
 * colours and true colour, underline, italic, strike-through, and default
 * colours the view takes from the desktop's light or dark theme. AutoSize
 * 3 makes the screen's columns and rows follow the view's size. */
QELCOMM6_EXPORT void SetCharacterSet(QcHandle object, int32_t set);
QELCOMM6_EXPORT int32_t GetCharacterSet(QcHandle object);
QELCOMM6_EXPORT void SetRendition(QcHandle object, int32_t rendition);
QELCOMM6_EXPORT int32_t GetRendition(QcHandle object);
QELCOMM6_EXPORT void SetHScrollBar(QcHandle object, int32_t flag);
QELCOMM6_EXPORT void SetVScrollBar(QcHandle object, int32_t flag);
QELCOMM6_EXPORT void PaintCommWindow(QcHandle object);

/* ---- File transfer ----------------------------------------------------- */

/* Protocols: 0 XModem, 1 XModem CRC, 2 XModem 1K, 3 YModem, 4 YModem-G,
 * 5 ZModem, 6 Kermit. AbortTransfer and AbortCurrentFile are one
 * operation. */
QELCOMM6_EXPORT int32_t Upload(QcHandle object, const char* fileName);
QELCOMM6_EXPORT int32_t Download(QcHandle object, const char* fileName);
QELCOMM6_EXPORT void AbortTransfer(QcHandle object);
QELCOMM6_EXPORT void AbortCurrentFile(QcHandle object);
QELCOMM6_EXPORT int32_t GetAbortTransfer(QcHandle object);
QELCOMM6_EXPORT void SetProtocol(QcHandle object, int32_t protocol);
QELCOMM6_EXPORT int32_t GetProtocol(QcHandle object);
QELCOMM6_EXPORT void SetTransferDialogType(QcHandle object, int32_t type);
QELCOMM6_EXPORT int32_t GetTransferDialogType(QcHandle object);
QELCOMM6_EXPORT void SetDialogParent(QcHandle object, QcHandle parent);
QELCOMM6_EXPORT QcHandle GetDialogParent(QcHandle object);
QELCOMM6_EXPORT int32_t GetTransferType(QcHandle object);
QELCOMM6_EXPORT int32_t GetTransferStatus(QcHandle object);
QELCOMM6_EXPORT int32_t GetTransferFileSize(QcHandle object);
QELCOMM6_EXPORT int32_t GetTransferBytesTransferred(QcHandle object);
/* Text getters copy at most size - 1 bytes and a terminator; they return
 * the text's full length. */
QELCOMM6_EXPORT int32_t GetTransferMessage(QcHandle object, char* buffer, int32_t size);
QELCOMM6_EXPORT int32_t GetSourceFilename(QcHandle object, char* buffer, int32_t size);
QELCOMM6_EXPORT int32_t GetSourceFilenameLength(QcHandle object);
QELCOMM6_EXPORT int32_t GetDestFilename(QcHandle object, char* buffer, int32_t size);
QELCOMM6_EXPORT int32_t GetDestFilenameLength(QcHandle object);
QELCOMM6_EXPORT void SetDestFilename(QcHandle object, const char* name);
QELCOMM6_EXPORT void SetXferPath(QcHandle object, const char* path);
QELCOMM6_EXPORT int32_t GetXferPath(QcHandle object, char* buffer, int32_t size);
QELCOMM6_EXPORT int32_t GetTransferQueueLength(QcHandle object);

/* ---- Modem dialing ----------------------------------------------------- */

/* Modem settings travel as one line of tab-separated fields: title, init,
 * tone dial prefix, pulse dial prefix, answer, hang-up, speed. */
#define QC_MODEM_OPTIONS_SIZE 1024
/* Entry index of the modem list "MODEM.LST" (0: the built-in entry). */
QELCOMM6_EXPORT int32_t LoadModemOptions(QcHandle object, int32_t index);
QELCOMM6_EXPORT int32_t GetModemOptions(QcHandle object, char* buffer);
QELCOMM6_EXPORT void SetModemOptions(QcHandle object, const char* text);
/* 0 tone, 1 pulse. */
QELCOMM6_EXPORT void SetDialMode(QcHandle object, int32_t mode);
QELCOMM6_EXPORT int32_t GetDialMode(QcHandle object);
QELCOMM6_EXPORT void SetDialTimeOut(QcHandle object, uint32_t ms);
QELCOMM6_EXPORT uint32_t GetDialTimeOut(QcHandle object);
/* 0 connected, 1 no carrier, 2 no dial tone, 3 busy, 4 time-out,
 * 5 cancelled. */
QELCOMM6_EXPORT int32_t Dial(QcHandle object, const char* number);
QELCOMM6_EXPORT int32_t HangUp(QcHandle object);
QELCOMM6_EXPORT int32_t WaitForOk(QcHandle object);
QELCOMM6_EXPORT int32_t InitModem(QcHandle object);
QELCOMM6_EXPORT int32_t InitModemForAnswer(QcHandle object);
QELCOMM6_EXPORT int32_t CheckModem(QcHandle object);

#ifdef __cplusplus
}
#endif

#endif /* QELCOMM6_H */
