// What a session asks of the window (or the windowless host) it lives in:
// message boxes and the modal I/O option dialogs.  The default host shows
// nothing and leaves the option record untouched, as a cancelled dialog
// would not: a host without dialogs simply has no edits to hand back.
#pragma once

#include <string>

namespace lintrel {

class SessionHost {
public:
    virtual ~SessionHost() = default;
    // An OK-only message box.
    virtual void messageBox(const std::string& text, const std::string& title) = 0;
    // Modal server and client I/O option dialogs working on IoOptionTransfer.
    virtual void showServerOptions() = 0;
    virtual void showClientOptions() = 0;
};

}  // namespace lintrel
