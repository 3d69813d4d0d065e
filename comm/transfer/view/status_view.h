// The engine's status view as a Qt dialog. The engine calls the view on the
// comm object's thread; widgets live on the application's GUI thread, so a
// call from any other thread is queued there, in order.
#pragma once

#include "transfer_engine.h"
#include "win/win.h"

#include <functional>
#include <memory>

class QWidget;

namespace xfer::view {

class TransferDialog;

// The widget a dialog parent handle stands for; none gives a dialog of its own.
using ParentResolver = std::function<QWidget*(win::Hwnd)>;

// One dialog view; callable from any thread (the dialog itself appears
// on the GUI thread). Null without a QApplication.
std::unique_ptr<StatusView> makeStatusDialog(const ParentResolver& parentFor, win::Hwnd parent, int dialogType,
                                             std::function<void()> cancel);

// Installs the dialog as the engine's status view. Without a QApplication
// (a windowless program) the engine gets no view and runs without one.
void installStatusDialog(ParentResolver parentFor = {});

// The dialog of the transfer that runs now, if one shows (for tests and
// for a window that wants to raise it); GUI thread only.
TransferDialog* currentDialog();

}  // namespace xfer::view
