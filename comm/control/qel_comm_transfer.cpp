// The file-transfer members: each reads or writes the transfer engine's
// field of the comm object. Protocol, dialog type and path are kept in the
// control too, so they persist, and reach the engine when written.
#include "control_access.h"
#include "transfer_engine.h"

#include <vector>

namespace qelcomm::control {

using lt::automation::DispatchTable;
using lt::automation::Variant;
namespace M = MemberId;

namespace {

std::string engineText(std::int32_t (*get)(QcHandle, char*, std::int32_t), QcHandle o)
{
    std::vector<char> text(std::size_t(get(o, nullptr, 0)) + 1, '\0');
    get(o, text.data(), std::int32_t(text.size()));
    return text.data();
}

}  // namespace

void ControlAccess::bindTransfer(CQelComm& c)
{
    CQelComm* p = &c;
    DispatchTable& t = c.m_dispatch;

    // The stored settings the engine works with, handed over before each request.
    auto handOver = [p] {
        const QcHandle o = p->m_hObject;
        ::SetProtocol(o, p->StoredProperty(M::XferProtocol).toInt32().value_or(0));
        ::SetTransferDialogType(o, p->StoredProperty(M::XferStatusDialog).toInt32().value_or(0));
        ::SetXferPath(o, p->StoredProperty(M::XferPath).toString().c_str());
    };
    auto storedInt = [p](std::int32_t id) {
        return [p, id](const Variant& v) {
            const auto i = v.toInt32();
            if (!i)
                return ErrorInfo{lt::automation::kTypeMismatch, 13, "Type mismatch", kProgId};
            p->m_stored[id] = Variant(*i);
            return p->ok();
        };
    };

    t.addProperty(M::XferProtocol, "XferProtocol", [p] { return p->StoredProperty(M::XferProtocol); },
                  storedInt(M::XferProtocol));
    t.addProperty(M::XferStatusDialog, "XferStatusDialog", [p] { return p->StoredProperty(M::XferStatusDialog); },
                  storedInt(M::XferStatusDialog));
    t.addProperty(M::XferPath, "XferPath", [p] { return p->StoredProperty(M::XferPath); },
                  [p](const Variant& v) {
                      p->m_stored[M::XferPath] = Variant(v.toString());
                      ::SetXferPath(p->m_hObject, v.toString().c_str());
                      return p->ok();
                  });

    for (auto [id, name, start] : {std::tuple{M::Upload, "Upload", &::Upload}, {M::Download, "Download", &::Download}})
        t.addCheckedProperty(id, name, {}, [p, handOver, start = start](const Variant& v) {
            if (::GetTransferType(p->m_hObject) == 0)
                handOver();
            start(p->m_hObject, v.toString().c_str());
            return p->ok();
        });

    t.addProperty(
        M::AbortTransfer, "AbortTransfer", [p] { return Variant::fromBool(::GetAbortTransfer(p->m_hObject) != 0); },
        [p](const Variant& v) {
            if (v.toBool())
                ::AbortTransfer(p->m_hObject);
            return p->ok();
        });
    t.addProperty(
        M::XferDestFilename, "XferDestFilename", [p] { return Variant(engineText(&::GetDestFilename, p->m_hObject)); },
        [p](const Variant& v) {
            ::SetDestFilename(p->m_hObject, v.toString().c_str());
            return p->ok();
        });
    t.addProperty(M::XferSourceFilename, "XferSourceFilename",
                  [p] { return Variant(engineText(&::GetSourceFilename, p->m_hObject)); });
    t.addProperty(M::XferMessage, "XferMessage", [p] { return Variant(engineText(&::GetTransferMessage, p->m_hObject)); });
    t.addProperty(M::XferFileSize, "XferFileSize", [p] { return Variant(::GetTransferFileSize(p->m_hObject)); });
    t.addProperty(M::XferTransferred, "XferTransferred",
                  [p] { return Variant(::GetTransferBytesTransferred(p->m_hObject)); });
    t.addProperty(M::XferStatus, "XferStatus", [p] { return Variant(::GetTransferStatus(p->m_hObject)); });
}

}  // namespace qelcomm::control
