// The libraries with Qt Widgets that sit beside libqelcomm6 (the port
// settings dialog, the control's pages): loaded when first needed, so that
// libqelcomm6 and the control stay free of Qt Widgets and a program that
// does not link them (a C program on the flat interface) still gets their
// windows whenever they are installed.
#pragma once

#include "qelcomm.h"

namespace qelcomm {

// The function named symbol in the companion library fileName (a file name
// such as "libqelcomm6_port_dialog.so.6"), looked for in libqelcomm6's own
// folder first, then on the loader's path; null when either is missing.
// A library once loaded stays loaded.
QELCOMM_CPP_API void* companionSymbol(const char* fileName, const char* symbol);

}  // namespace qelcomm
