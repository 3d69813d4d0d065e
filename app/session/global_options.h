// Process-wide records every session reads: the global options, the I/O
// option transfer record the option dialogs exchange through, and the
// tick counter of connection monitoring.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace lintrel {

struct GlobalOptionsRecord {
    bool LogErrors = false;          // write the error log
    std::string OnErrorRunApp;       // command line run after each error
    bool LoadWithWindows = false;    // start at logon
    bool PingEnabled = false;
    int PingFrequency = 1;           // list position: (k+1) x 5 s
    int PingTimeout = 9;             // list position: (k+1) x 100 ms
    int PacketSize = 2000;           // bytes per TCP packet in packet mode
    std::string Password;            // empty: no password
    // Most bytes a client may leave unread before it is closed as not
    // reading (0: no bound), so one stuck client can neither hold up the
    // others nor fill the memory.
    std::int64_t ClientQueueLimit = kDefaultClientQueueLimit;
    static constexpr std::int64_t kDefaultClientQueueLimit = 4 << 20;
};

// Five 16-bit fields: AllowMultiConnect, ServerSerialOptions,
// ServerTCPOptions, ClientOptions, ConnectOnVirtualOpen.  A dialog
// cancelled writes kCancelMark into the first slot it owns.
struct IoOptionTransferRecord {
    static constexpr std::int16_t kCancelMark = -1;   // 65535 as a 16-bit value
    std::array<std::int16_t, 5> fields{0, 0, 0, 0, 0};
};

extern GlobalOptionsRecord GlobalOptions;
extern IoOptionTransferRecord IoOptionTransfer;
extern std::int32_t PingIdleTicks;

}  // namespace lintrel
