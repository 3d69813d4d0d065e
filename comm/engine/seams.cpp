// Operations of the terminal view and of the file-transfer engine that the
// engine calls. Until those subsystems exist, the display shows nothing and
// a detected download request is only counted on the object.
#include "comm_object.h"

namespace qelcomm {

void TerminalWrite(CommObjectData*, const std::uint8_t*, std::uint32_t) {}

void Download(QcHandle object, const char*)
{
    if (CommObjectData* d = resolve(object))
        ++d->downloadRequests;
}

}  // namespace qelcomm
