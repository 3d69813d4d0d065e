// What the library needs from its host: an application object for Qt's
// event machinery. A Qt program has one already; a plain C program that
// calls the flat interface gets one made by the library.
#pragma once

namespace qelcomm {

// Creates the process's application object when there is none, once: a
// QApplication made by the port settings dialog's library when a display is
// configured (DISPLAY, WAYLAND_DISPLAY or QT_QPA_PLATFORM) and the library
// is there, else a QCoreApplication.
void ensureHostLoop();

}  // namespace qelcomm
