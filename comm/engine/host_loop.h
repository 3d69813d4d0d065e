// What the library needs from its host: an application object for Qt's
// event machinery. A Qt program has one already; a plain C program that
// calls the flat interface gets one made by the library.
#pragma once

namespace qelcomm {

// Creates the process's QCoreApplication when there is none, once.
void ensureHostLoop();

}  // namespace qelcomm
