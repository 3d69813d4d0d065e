// Operations of the terminal view and of the file-transfer engine that the
// engine calls. The display hands bytes to the object's terminal.
// A detected download request is counted on the object and handed to the
// transfer engine once that engine has installed its starter.
#include "comm_object.h"
#include "terminal_registry.h"

#include <atomic>

namespace qelcomm {

using DownloadStarter = void (*)(QcHandle object, const char* fileName);

namespace {
std::atomic<DownloadStarter> g_downloadStarter{nullptr};
}

// Called by the transfer engine when it is loaded.
void SetDownloadStarter(DownloadStarter starter) { g_downloadStarter = starter; }

void TerminalWrite(CommObjectData* d, const std::uint8_t* bytes, std::uint32_t count)
{
    terminal::displayBytes(d, bytes, count);
}

void Download(QcHandle object, const char* fileName)
{
    CommObjectData* d = resolve(object);
    if (!d)
        return;
    ++d->downloadRequests;
    if (DownloadStarter start = g_downloadStarter.load())
        start(object, fileName);
}

}  // namespace qelcomm
