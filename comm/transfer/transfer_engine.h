// The file-transfer engine of a comm object: the request and its file
// queue, the transfer thread, and the callback through which that thread
// reports back to the object's own thread.
//
// Threads: Upload, Download and every getter and setter run on the thread
// that owns the comm object. The transfer thread touches only the port and
// its own state; each report it makes is carried to the object's thread
// (a hidden child window of the object) and waits there until it has run,
// Event_Transfer and the container's handler included. When the object is
// destroyed, that child goes with it and the thread ends at its next report.
#pragma once

#include "protocol.h"
#include "qelcomm.h"
#include "win/win.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace xfer {

enum TransferStatus : std::int32_t {
    Status_Failure = -1,
    Status_Success = 0,
    Status_WaitForFile = 1,
    Status_Prepare = 2,
    Status_Starting = 3,
    Status_Transferring = 4,
    Status_FileAbort = 5,
    Status_TransferAborting = 6,
    Status_EndOfFile = 7,
};

// Request codes of the transfer callback.
enum CallbackCode : std::int32_t {
    Cb_DialogType = 1,
    Cb_Port = 2,
    Cb_DialogParent = 3,
    Cb_Protocol = 4,
    Cb_TransferEnded = 5,
    Cb_FileSize = 6,
    Cb_Progress = 7,
    Cb_Message = 8,
    Cb_Prepare = 9,
    Cb_FileEnded = 10,
    Cb_AbortRequested = 11,
    Cb_Direction = 12,
    Cb_TransferFailed = 13,
    Cb_FileAborted = 14,
    Cb_QueueLength = 15,
};

inline constexpr std::size_t kMessageLimit = 128;

// The protocol's display name: "XModem", "XModem CRC", ...
const char* protocolName(int protocol);

// Protocol implementations by index. 0 to 4 are built in; ZModem and
// Kermit register theirs when they are linked in.
using ProtocolFactory = std::unique_ptr<ByteMachine> (*)(ProtocolHost& host, int protocol, bool sending);
void registerProtocol(int protocol, ProtocolFactory factory);
std::unique_ptr<ByteMachine> makeProtocol(ProtocolHost& host, int protocol, bool sending);
bool hasProtocol(int protocol);

// The status dialog, as the engine sees it. A widgets library provides
// the real one through setStatusViewFactory; without one no dialog shows.
class StatusView {
public:
    virtual ~StatusView() = default;
    virtual void setCaption(const std::string& text) = 0;
    virtual void clearFields() = 0;  // also takes the file's start time
    virtual void setMessage(const std::string& text) = 0;
    virtual void setTotalSize(std::uint64_t size) = 0;
    virtual void setProgress(std::uint64_t bytes, std::uint64_t fileSize, std::uint32_t blockSize) = 0;
};
// dialogType 1: modeless, 2: modal, 0: created hidden. cancel() sets the
// transfer's abort flag from the dialog's thread.
using StatusViewFactory = std::function<std::unique_ptr<StatusView>(win::Hwnd parent, int dialogType,
                                                                    std::function<void()> cancel)>;
void setStatusViewFactory(StatusViewFactory factory);

// What the callback answers for code 9: the proposed names in, the final
// names out.
struct PrepareRequest {
    FileNames names;
};

// One transfer callback, run on the object's thread (exposed for tests).
std::intptr_t transferCallback(QcHandle object, int code, std::intptr_t argument);

}  // namespace xfer

// The flat interface. Upload and Download return 1 when the name was taken
// (started or queued), 0 when refused.
QELCOMM_API std::int32_t Upload(QcHandle object, const char* fileName);
QELCOMM_API std::int32_t Download(QcHandle object, const char* fileName);
QELCOMM_API void AbortTransfer(QcHandle object);
QELCOMM_API void AbortCurrentFile(QcHandle object);
QELCOMM_API std::int32_t GetAbortTransfer(QcHandle object);
QELCOMM_API void SetProtocol(QcHandle object, std::int32_t protocol);
QELCOMM_API std::int32_t GetProtocol(QcHandle object);
QELCOMM_API void SetTransferDialogType(QcHandle object, std::int32_t type);
QELCOMM_API std::int32_t GetTransferDialogType(QcHandle object);
QELCOMM_API void SetDialogParent(QcHandle object, QcHandle parent);
QELCOMM_API QcHandle GetDialogParent(QcHandle object);
QELCOMM_API std::int32_t GetTransferType(QcHandle object);
QELCOMM_API std::int32_t GetTransferStatus(QcHandle object);
QELCOMM_API std::int32_t GetTransferFileSize(QcHandle object);
QELCOMM_API std::int32_t GetTransferBytesTransferred(QcHandle object);
// Text getters copy at most size - 1 bytes and a terminator; they return the
// text's full length.
QELCOMM_API std::int32_t GetTransferMessage(QcHandle object, char* buffer, std::int32_t size);
QELCOMM_API std::int32_t GetSourceFilename(QcHandle object, char* buffer, std::int32_t size);
QELCOMM_API std::int32_t GetSourceFilenameLength(QcHandle object);
QELCOMM_API std::int32_t GetDestFilename(QcHandle object, char* buffer, std::int32_t size);
QELCOMM_API std::int32_t GetDestFilenameLength(QcHandle object);
QELCOMM_API void SetDestFilename(QcHandle object, const char* name);
QELCOMM_API void SetXferPath(QcHandle object, const char* path);
QELCOMM_API std::int32_t GetXferPath(QcHandle object, char* buffer, std::int32_t size);
QELCOMM_API std::int32_t GetTransferQueueLength(QcHandle object);
// Always 0, the buffer untouched.
QELCOMM_CPP_API std::int32_t GetTransferFilename(QcHandle object, char* buffer, std::int32_t size);
QELCOMM_CPP_API std::int32_t GetTransferFilenameLength(QcHandle object);
