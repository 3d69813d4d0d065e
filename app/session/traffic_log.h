// A bounded record of the chunks that crossed a session, for the traffic
// monitor, and the text form shared by the monitor and the trace files:
//
//   2026-03-01 12:34:56.123456  serial>tcp  127.0.0.1:50412  18 bytes
//     0000  48 65 6c 6c 6f 2c 20 64  65 76 69 63 65 21 0d 0a  Hello, device!..
//     0010  00 ff                                             ..
#pragma once

#include "session_counters.h"

#include <cstdint>
#include <deque>
#include <string>

namespace lintrel {

struct TrafficRecord {
    std::uint64_t seq = 0;         // 0, 1, 2, ... in arrival order, never reused until clear()
    std::int64_t usec = 0;         // wall clock, microseconds since the epoch
    TrafficDirection direction = TrafficDirection::ToTcp;
    std::string client;
    std::string bytes;             // the chunk, or its first part when it is larger than the bound
    std::size_t size = 0;          // the chunk's whole length
};

// Keeps the newest records whose cost (bytes, client name and a fixed
// overhead each) stays within the limit; older ones are pushed out.
class TrafficLog : public TrafficTap {
public:
    static constexpr std::size_t kRecordOverhead = sizeof(TrafficRecord) + 32;
    static constexpr std::size_t kMinLimit = 4096;
    static constexpr std::size_t kDefaultLimit = 1u << 20;

    explicit TrafficLog(std::size_t limit = kDefaultLimit) { setLimit(limit); }

    void chunk(TrafficDirection direction, const std::string& client, const char* data,
               std::size_t size) override;
    // For tests: a chunk with a given time.
    void add(std::int64_t usec, TrafficDirection direction, const std::string& client,
             const char* data, std::size_t size);

    void setLimit(std::size_t limit);
    std::size_t limit() const { return m_limit; }
    // While paused, chunks are counted as skipped and not kept.
    void setPaused(bool on) { m_paused = on; }
    bool paused() const { return m_paused; }
    void clear();

    const std::deque<TrafficRecord>& records() const { return m_records; }
    // Sequence numbers of the first record held and of the next to come.
    std::uint64_t firstSeq() const { return m_records.empty() ? m_nextSeq : m_records.front().seq; }
    std::uint64_t endSeq() const { return m_nextSeq; }
    std::size_t heldBytes() const { return m_held; }
    std::uint64_t pushedOut() const { return m_pushedOut; }
    std::uint64_t skipped() const { return m_skipped; }

    static std::size_t cost(const TrafficRecord& r) { return kRecordOverhead + r.client.size() + r.bytes.size(); }

private:
    void trimTo(std::size_t limit);

    std::deque<TrafficRecord> m_records;
    std::size_t m_limit = kDefaultLimit;
    std::size_t m_held = 0;
    std::uint64_t m_nextSeq = 0;
    std::uint64_t m_pushedOut = 0;
    std::uint64_t m_skipped = 0;
    bool m_paused = false;
};

// Wall clock now, in microseconds since the epoch.
std::int64_t nowUsec();
// "2026-03-01 12:34:56.123456" in local time.
std::string formatTimestamp(std::int64_t usec);
const char* directionName(TrafficDirection d);   // "serial>tcp", "tcp>serial"
// "<time>  <direction>  <client>  <n> bytes", with ", first <m> kept" when cut.
std::string formatHeader(const TrafficRecord& r);
// 16 bytes a line: offset, hex in two groups of eight, printable text.
std::string hexDump(const std::string& bytes);
// The header line and the dump, each line ending in "\n".
std::string formatRecord(const TrafficRecord& r);

}  // namespace lintrel
