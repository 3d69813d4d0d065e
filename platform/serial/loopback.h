// An in-process double of a serial line pair, wired as a null-modem cable:
// bytes written on one end arrive at the other, DTR drives the far end's DSR
// and CD, RTS drives the far end's CTS. It answers the same calls as a real
// port (serial.h) once registered, and lets a test inject line errors, ring,
// a refused configuration or a blocked output, and read what the engine did
// to the lines. Names registered here are matched exactly, before the
// device namespace.
#pragma once

#include "serial.h"

#include <cstdint>
#include <string>

namespace serial::loopback {

// Registers the two ends under the given names (replacing earlier ones).
void createPair(const std::string& nameA, const std::string& nameB);
// Forgets every pair; handles still open fail from then on.
void removeAll();
bool exists(const std::string& name);

// Error bits (CE_*) the next ClearCommError on that end reports.
void injectErrors(const std::string& name, std::uint32_t ceMask);
// The ring indicator seen by that end.
void setRing(const std::string& name, bool on);
// While set, SetCommState on that end fails and keeps the old configuration.
void refuseConfiguration(const std::string& name, bool refuse);
// While set, writes on that end accept no byte (as if flow control held it).
void blockOutput(const std::string& name, bool blocked);
// Each write on that end takes at most this many bytes (a driver queue with
// little room); 0 lifts the limit.
void limitWrites(const std::string& name, std::uint32_t bytes);

struct LineState {
    bool open = false;       // a handle holds this end
    bool dtr = false;
    bool rts = false;
    bool breakOn = false;
    DCB dcb;                 // the configuration in force
    std::uint32_t inQueueSize = 0, outQueueSize = 0;
    std::uint32_t eventMask = 0;
    COMMTIMEOUTS timeouts;
    int breakCount = 0;      // times a break was started (SETBREAK / SetCommBreak)
};
LineState state(const std::string& name);

}  // namespace serial::loopback
