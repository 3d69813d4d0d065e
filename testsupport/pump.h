// Pumping the test thread's events while waiting for something to happen.
#pragma once

#include <functional>

namespace testsupport {

// Runs the thread's pending events (timers, sockets, posted window
// messages) until pred holds or ms passed; returns whether pred held.
bool pumpUntil(const std::function<bool()>& pred, int ms = 5000);
// Runs the thread's events for ms.
void pumpFor(int ms);

}  // namespace testsupport
