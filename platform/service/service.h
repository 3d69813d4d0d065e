// The service manager (systemd) as a program started by it sees it:
// readiness, a status line and the watchdog through $NOTIFY_SOCKET, and
// the journal behind standard output or standard error ($JOURNAL_STREAM).
// Built with libsystemd when it is there; without it nothing is sent and
// the program runs the same.
#pragma once

#include <chrono>
#include <string>

namespace lt::service {

// Whether this build can talk to the service manager.
bool supported();

// Sends state assignments, one per line ("READY=1\nSTATUS=2 sessions
// active"), when the service manager asked for them.  False when it did
// not, or the message could not be sent.
bool notify(const std::string& state);

// How often the manager expects "WATCHDOG=1" (half its WatchdogSec, so a
// late tick does not kill the service); zero when it does not watch.
std::chrono::milliseconds watchdogPeriod();

// Whether descriptor 1 (standard output) or 2 (standard error) is the
// journal stream systemd connected; such lines take a "<n>" priority prefix
// and no time stamp of their own (the journal stamps them).
bool isJournalStream(int standardStream);

}  // namespace lt::service
