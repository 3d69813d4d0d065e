// Transfer requests, the per-object transfer fields and the callback.
#include "transfer_engine.h"

#include "comm_object.h"
#include "transfer_names.h"
#include "transfer_thread.h"
#include "xymodem.h"

#include <algorithm>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>

namespace qelcomm {
// The engine's download seam calls this hook once it is set.
using DownloadStarter = void (*)(QcHandle object, const char* fileName);
void SetDownloadStarter(DownloadStarter starter);
}  // namespace qelcomm

namespace xfer {
namespace {

constexpr const char* kCallbackClass = "QelTransfer";

struct TransferRecord {
    QcHandle object = 0;
    win::Hwnd callbackWindow = 0;
    std::int32_t protocol = 0;
    std::int32_t dialogType = 0;
    win::Hwnd dialogParent = 0;
    std::int32_t status = Status_Success;
    std::int32_t abort = 0;
    std::int64_t fileSize = 0;
    std::int64_t transferred = 0;
    std::string message;
    std::string source;
    std::string destination;
    std::deque<std::string> queue;  // guarded by queueLock()
    std::shared_ptr<ThreadShared> thread;
    std::unique_ptr<StatusView> dialog;
};

// The one lock over every object's file queue, created at first use; it
// also guards the table of records.
std::mutex& queueLock()
{
    static std::mutex m;
    return m;
}

std::map<QcHandle, std::unique_ptr<TransferRecord>>& records()
{
    static std::map<QcHandle, std::unique_ptr<TransferRecord>> r;
    return r;
}

std::map<int, ProtocolFactory>& factories()
{
    static std::map<int, ProtocolFactory> f;
    return f;
}

StatusViewFactory& viewFactory()
{
    static StatusViewFactory f;
    return f;
}

TransferRecord* findRecord(QcHandle object)
{
    std::lock_guard lock(queueLock());
    auto it = records().find(object);
    return it == records().end() ? nullptr : it->second.get();
}

win::LResult callbackProc(win::Hwnd hwnd, std::uint32_t msg, win::WParam wp, win::LParam lp)
{
    if (msg == kCallbackMessage)
        return transferCallback(win::getParent(hwnd), int(wp), lp);
    if (msg == win::WM_DESTROY) {
        std::unique_ptr<TransferRecord> gone;
        {
            std::lock_guard lock(queueLock());
            auto it = records().find(win::getParent(hwnd));
            if (it != records().end() && it->second->callbackWindow == hwnd) {
                gone = std::move(it->second);
                records().erase(it);
            }
        }
        return 0;
    }
    return win::defWindowProc(hwnd, msg, wp, lp);
}

// The record of a comm object, made with its callback window on first use.
TransferRecord* recordFor(QcHandle object)
{
    if (!qelcomm::resolve(object))
        return nullptr;
    if (TransferRecord* r = findRecord(object))
        return r;
    if (!win::isClassRegistered(kCallbackClass))
        win::registerClass(win::WndClass{kCallbackClass, 0, 0, &callbackProc});
    const win::Hwnd window = win::createWindow(kCallbackClass, "", win::WS_CHILD, object);
    if (!window)
        return nullptr;
    auto record = std::make_unique<TransferRecord>();
    record->object = object;
    record->callbackWindow = window;
    TransferRecord* r = record.get();
    std::lock_guard lock(queueLock());
    records()[object] = std::move(record);
    return r;
}

std::string frontOfQueue(TransferRecord* r, bool remove)
{
    std::lock_guard lock(queueLock());
    if (r->queue.empty())
        return {};
    std::string name = r->queue.front();
    if (remove)
        r->queue.pop_front();
    return name;
}

// Event_Transfer; false when the object did not survive the handler.
bool fireTransferEvent(QcHandle object)
{
    qelcomm::FireCommEvent(object, qelcomm::Event_Transfer);
    return findRecord(object) != nullptr;
}

void endTransfer(QcHandle object, TransferRecord* r, std::int32_t status)
{
    qelcomm::CommObjectData* d = qelcomm::resolve(object);
    if (d)
        d->transferState = 0;
    r->source.clear();
    r->destination.clear();
    r->status = status;
    r->thread.reset();
    r->dialog.reset();
    {
        std::lock_guard lock(queueLock());
        r->queue.clear();
    }
    if (!fireTransferEvent(object))
        return;
    if ((d = qelcomm::resolve(object)))
        qelcomm::ArmPollTimer(d);
}

void endFile(QcHandle object, TransferRecord* r, bool ok)
{
    if (!ok) {
        r->status = Status_FileAbort;
        if (!fireTransferEvent(object))
            return;
    }
    r->status = Status_EndOfFile;
    if (!fireTransferEvent(object))
        return;
    r->source.clear();
    r->destination.clear();
    r->status = Status_WaitForFile;
}

void setMessage(TransferRecord* r, const std::string& text)
{
    r->message = text.substr(0, kMessageLimit);
    if (r->dialog)
        r->dialog->setMessage(r->message);
}

// Settles the names of the next file (see the header of transfer_names.h).
void prepareFile(QcHandle object, TransferRecord* r, PrepareRequest* request)
{
    const qelcomm::CommObjectData* d = qelcomm::resolve(object);
    const std::string folder = d ? d->transferPath : std::string();
    const bool sending = d && d->transferState == 1;
    const std::string queued = frontOfQueue(r, true);
    std::string renamedFrom;
    if (sending) {
        r->source = resolveInFolder(folder, queued.empty() ? request->names.source : queued);
        r->destination = request->names.destination.empty() ? r->source : request->names.destination;
    } else {
        r->source = request->names.source;
        if (!queued.empty()) {
            r->destination = resolveInFolder(folder, queued);
        } else {
            // A name from the far end: its last component only, inside the
            // transfer folder, never over an existing file.
            const std::string safe = safeReceivedName(request->names.destination);
            if (safe.empty()) {
                r->destination = nextUntitled(folder);
            } else {
                const std::string wanted = resolveInFolder(folder, safe);
                // A resume goes on in the file it names; anything else
                // never replaces an existing file.
                const long long have = request->names.resume ? regularFileLength(wanted) : -1;
                const bool resumable = have >= 0 && std::uint64_t(have) <= request->names.size;
                r->destination = resumable ? wanted : nextFreeVariant(wanted);
                if (r->destination != wanted)
                    renamedFrom = safe;
            }
        }
    }
    // A new file starts counting from nothing, also one that will have no
    // data of its own; an empty name (the end of a batch) keeps the last count.
    if (!(sending ? r->source : r->destination).empty())
        r->fileSize = r->transferred = 0;
    r->status = Status_Prepare;
    const std::string offered = r->destination;
    if (!fireTransferEvent(object))
        return;
    if (r->destination != offered && !r->destination.empty())
        r->destination = resolveInFolder(folder, r->destination);
    else if (!renamedFrom.empty())
        setMessage(r, "File " + renamedFrom + " exists, receiving as " + nameWithoutFolder(r->destination));
    request->names.source = r->source;
    request->names.destination = r->destination;
    if (request->names.resume) {
        const long long have = sending ? -1 : regularFileLength(r->destination);
        request->names.resume = have >= 0 && std::uint64_t(have) <= request->names.size;
    }
    // An empty name is the end of a batch, not a file to name in the caption.
    if (const std::string shown = nameWithoutFolder(sending ? r->source : r->destination); r->dialog && !shown.empty()) {
        r->dialog->setCaption(std::string(sending ? "Sending " : "Receiving ") + shown + " ("
                              + protocolName(r->protocol) + ")");
    }
}

std::int32_t request(QcHandle object, const char* fileName, std::int32_t direction)
{
    qelcomm::CommObjectData* d = qelcomm::resolve(object);
    TransferRecord* r = recordFor(object);
    if (!d || !r)
        return 0;
    r->abort = 0;
    if (d->transferState != 0 && d->transferState != direction)
        return 0;
    try {
        std::lock_guard lock(queueLock());
        r->queue.emplace_back(fileName ? fileName : "");
    } catch (const std::bad_alloc&) {
        return 0;
    }
    if (d->transferState == direction)
        return 1;
    d->transferState = direction;
    r->status = Status_WaitForFile;
    r->message.clear();
    r->fileSize = r->transferred = 0;
    r->thread = std::make_shared<ThreadShared>();
    r->thread->callbackWindow = r->callbackWindow;
    startTransferThread(r->thread);
    return 1;
}

std::int32_t copyText(const std::string& text, char* buffer, std::int32_t size)
{
    if (buffer && size > 0) {
        const std::size_t n = std::min<std::size_t>(text.size(), std::size_t(size - 1));
        std::memcpy(buffer, text.data(), n);
        buffer[n] = 0;
    }
    return std::int32_t(text.size());
}

// A download the engine's "rz\r**" detector asked for. Only ZModem starts
// that way; without a ZModem receiver the request stays counted on the
// object and nothing starts.
void autoDownload(QcHandle object, const char* fileName)
{
    if (!hasProtocol(Protocol_ZModem))
        return;
    qelcomm::CommObjectData* d = qelcomm::resolve(object);
    TransferRecord* r = recordFor(object);
    if (!d || !r || d->transferState != 0)
        return;
    r->protocol = Protocol_ZModem;
    request(object, fileName, 2);
}

const bool g_seamInstalled = [] {
    qelcomm::SetDownloadStarter(&autoDownload);
    return true;
}();

}  // namespace

const char* protocolName(int protocol)
{
    static const char* const names[] = {"XModem", "XModem CRC", "XModem 1K", "YModem", "YModem-G", "ZModem", "Kermit"};
    return protocol >= 0 && protocol < 7 ? names[protocol] : "";
}

void registerProtocol(int protocol, ProtocolFactory factory)
{
    std::lock_guard lock(queueLock());
    factories()[protocol] = factory;
}

bool hasProtocol(int protocol)
{
    if (protocol >= Protocol_XModem && protocol <= Protocol_YModemG)
        return true;
    std::lock_guard lock(queueLock());
    return factories().count(protocol) != 0;
}

std::unique_ptr<ByteMachine> makeProtocol(ProtocolHost& host, int protocol, bool sending)
{
    if (protocol >= Protocol_XModem && protocol <= Protocol_YModemG)
        return std::make_unique<XyModem>(host, protocol, sending);
    ProtocolFactory f = nullptr;
    {
        std::lock_guard lock(queueLock());
        auto it = factories().find(protocol);
        if (it != factories().end())
            f = it->second;
    }
    return f ? f(host, protocol, sending) : nullptr;
}

void setStatusViewFactory(StatusViewFactory factory) { viewFactory() = std::move(factory); }

std::intptr_t transferCallback(QcHandle object, int code, std::intptr_t argument)
{
    TransferRecord* r = findRecord(object);
    qelcomm::CommObjectData* d = qelcomm::resolve(object);
    if (!r || !d)
        return 0;
    switch (code) {
    case Cb_DialogType: return r->dialogType;
    case Cb_Port: return std::intptr_t(d->port);
    case Cb_DialogParent: return std::intptr_t(r->dialogParent ? r->dialogParent : win::getParent(object));
    case Cb_Protocol: return r->protocol;
    case Cb_Direction: return d->transferState;
    case Cb_QueueLength: {
        std::lock_guard lock(queueLock());
        return std::intptr_t(r->queue.size());
    }
    case Cb_AbortRequested:
        if (r->abort && r->thread)
            r->thread->abort = true;
        return r->abort;
    case Cb_TransferEnded:
    case Cb_TransferFailed: endTransfer(object, r, code == Cb_TransferEnded ? Status_Success : Status_Failure); return 0;
    case Cb_FileSize:
        r->status = Status_Prepare;
        r->fileSize = std::int64_t(argument);
        if (r->dialog)
            r->dialog->setTotalSize(std::uint64_t(argument));
        fireTransferEvent(object);
        return 0;
    case Cb_Progress: {
        const auto* p = reinterpret_cast<const std::uint64_t*>(argument);
        r->status = Status_Transferring;
        r->transferred = std::int64_t(p[0]);
        if (r->dialog)
            r->dialog->setProgress(p[0], std::uint64_t(r->fileSize), std::uint32_t(p[1]));
        fireTransferEvent(object);
        return 0;
    }
    case Cb_Message: {
        const char* text = reinterpret_cast<const char*>(argument);
        if (!fireTransferEvent(object))
            return 0;
        setMessage(r, text ? text : "");
        return 0;
    }
    case Cb_Prepare: prepareFile(object, r, reinterpret_cast<PrepareRequest*>(argument)); return 0;
    case Cb_FileEnded:
    case Cb_FileAborted: endFile(object, r, code == Cb_FileEnded); return 0;
    case Cb_CreateDialog: {
        if (viewFactory() && r->thread) {
            std::weak_ptr<ThreadShared> weak = r->thread;
            r->dialog = viewFactory()(r->dialogParent ? r->dialogParent : win::getParent(object), int(argument),
                                      [weak] {
                                          if (auto s = weak.lock())
                                              s->abort = true;
                                      });
        }
        return 0;
    }
    case Cb_DestroyDialog: r->dialog.reset(); return 0;
    case Cb_ClearFields:
        if (r->dialog)
            r->dialog->clearFields();
        return 0;
    default: return 0;
    }
}

}  // namespace xfer

using namespace xfer;

QELCOMM_API std::int32_t Upload(QcHandle object, const char* fileName) { return request(object, fileName, 1); }
QELCOMM_API std::int32_t Download(QcHandle object, const char* fileName) { return request(object, fileName, 2); }

QELCOMM_API void AbortTransfer(QcHandle object)
{
    if (TransferRecord* r = recordFor(object)) {
        r->abort = 1;
        if (r->thread)
            r->thread->abort = true;  // so the thread's waits end at once
    }
}

QELCOMM_API void AbortCurrentFile(QcHandle object) { AbortTransfer(object); }

QELCOMM_API std::int32_t GetAbortTransfer(QcHandle object)
{
    TransferRecord* r = findRecord(object);
    return r ? r->abort : 0;
}

#define XFER_FIELD_PAIR(Name, field, Type)                            \
    QELCOMM_API void Set##Name(QcHandle object, Type value)           \
    {                                                                 \
        if (TransferRecord* r = recordFor(object))                    \
            r->field = value;                                         \
    }                                                                 \
    QELCOMM_API Type Get##Name(QcHandle object)                       \
    {                                                                 \
        TransferRecord* r = findRecord(object);                       \
        return r ? Type(r->field) : Type{};                           \
    }
XFER_FIELD_PAIR(Protocol, protocol, std::int32_t)
XFER_FIELD_PAIR(TransferDialogType, dialogType, std::int32_t)
XFER_FIELD_PAIR(DialogParent, dialogParent, QcHandle)
#undef XFER_FIELD_PAIR

QELCOMM_API std::int32_t GetTransferType(QcHandle object)
{
    return qelcomm::fieldOf(object, &qelcomm::CommObjectData::transferState);
}

QELCOMM_API std::int32_t GetTransferStatus(QcHandle object)
{
    TransferRecord* r = findRecord(object);
    return r ? r->status : 0;
}

QELCOMM_API std::int32_t GetTransferFileSize(QcHandle object)
{
    TransferRecord* r = findRecord(object);
    return r ? std::int32_t(std::min<std::int64_t>(r->fileSize, INT32_MAX)) : 0;
}

QELCOMM_API std::int32_t GetTransferBytesTransferred(QcHandle object)
{
    TransferRecord* r = findRecord(object);
    return r ? std::int32_t(std::min<std::int64_t>(r->transferred, INT32_MAX)) : 0;
}

QELCOMM_API std::int32_t GetTransferMessage(QcHandle object, char* buffer, std::int32_t size)
{
    TransferRecord* r = findRecord(object);
    return copyText(r ? r->message : std::string(), buffer, size);
}

QELCOMM_API std::int32_t GetSourceFilename(QcHandle object, char* buffer, std::int32_t size)
{
    TransferRecord* r = findRecord(object);
    return copyText(r ? r->source : std::string(), buffer, size);
}

QELCOMM_API std::int32_t GetSourceFilenameLength(QcHandle object)
{
    TransferRecord* r = findRecord(object);
    return r ? std::int32_t(r->source.size()) : 0;
}

QELCOMM_API std::int32_t GetDestFilename(QcHandle object, char* buffer, std::int32_t size)
{
    TransferRecord* r = findRecord(object);
    return copyText(r ? r->destination : std::string(), buffer, size);
}

QELCOMM_API std::int32_t GetDestFilenameLength(QcHandle object)
{
    TransferRecord* r = findRecord(object);
    return r ? std::int32_t(r->destination.size()) : 0;
}

QELCOMM_API void SetDestFilename(QcHandle object, const char* name)
{
    if (TransferRecord* r = recordFor(object))
        r->destination = name ? name : "";
}

QELCOMM_API void SetXferPath(QcHandle object, const char* path)
{
    if (qelcomm::CommObjectData* d = qelcomm::resolve(object))
        d->transferPath = path ? path : "";
}

QELCOMM_API std::int32_t GetXferPath(QcHandle object, char* buffer, std::int32_t size)
{
    const qelcomm::CommObjectData* d = qelcomm::resolve(object);
    return copyText(d ? d->transferPath : std::string(), buffer, size);
}

QELCOMM_API std::int32_t GetTransferQueueLength(QcHandle object)
{
    TransferRecord* r = findRecord(object);
    if (!r)
        return 0;
    std::lock_guard lock(queueLock());
    return std::int32_t(r->queue.size());
}

// Kept for callers of the older interface: the transfer's file name is
// read with GetSourceFilename and GetDestFilename; these report nothing.
QELCOMM_CPP_API std::int32_t GetTransferFilename(QcHandle, char*, std::int32_t) { return 0; }

QELCOMM_CPP_API std::int32_t GetTransferFilenameLength(QcHandle) { return 0; }
