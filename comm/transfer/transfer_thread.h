// The transfer thread: runs one protocol over the object's port and reports
// through the transfer callback. Internal to the engine.
#pragma once

#include "win/win.h"

#include <atomic>
#include <cstdint>
#include <memory>

namespace xfer {

// Shared by the object's thread and the transfer thread; it outlives both
// sides' interest in it, so neither can see it go away.
struct ThreadShared {
    win::Hwnd callbackWindow = 0;
    std::atomic<bool> abort{false};     // the transfer's own abort flag
    std::atomic<bool> finished{false};
};

// Internal callback codes the thread uses for the dialog, beside the
// fifteen public ones.
enum InternalCode : std::int32_t {
    Cb_CreateDialog = 101,
    Cb_DestroyDialog = 102,
    Cb_ClearFields = 103,
};

inline constexpr std::uint32_t kCallbackMessage = win::WM_USER + 0x513;

void startTransferThread(std::shared_ptr<ThreadShared> shared);

}  // namespace xfer
