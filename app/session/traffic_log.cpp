#include "traffic_log.h"

#include <chrono>
#include <cstdio>
#include <ctime>

namespace lintrel {

std::int64_t nowUsec()
{
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

void TrafficLog::chunk(TrafficDirection direction, const std::string& client, const char* data,
                       std::size_t size)
{
    if (m_paused) {
        ++m_skipped;
        return;
    }
    add(nowUsec(), direction, client, data, size);
}

void TrafficLog::add(std::int64_t usec, TrafficDirection direction, const std::string& client,
                     const char* data, std::size_t size)
{
    // A chunk larger than the whole bound keeps its beginning.
    const std::size_t fixed = kRecordOverhead + client.size();
    const std::size_t room = m_limit > fixed ? m_limit - fixed : 0;
    const std::size_t kept = std::min(size, room);
    trimTo(m_limit - std::min(m_limit, fixed + kept));
    TrafficRecord r;
    r.seq = m_nextSeq++;
    r.usec = usec;
    r.direction = direction;
    r.client = client;
    r.bytes.assign(data, kept);
    r.size = size;
    m_held += cost(r);
    m_records.push_back(std::move(r));
}

void TrafficLog::setLimit(std::size_t limit)
{
    m_limit = std::max(limit, kMinLimit);
    trimTo(m_limit);
}

void TrafficLog::clear()
{
    m_records.clear();
    m_held = 0;
    m_pushedOut = 0;
    m_skipped = 0;
}

void TrafficLog::trimTo(std::size_t limit)
{
    while (!m_records.empty() && m_held > limit) {
        m_held -= cost(m_records.front());
        m_records.pop_front();
        ++m_pushedOut;
    }
    // A deque keeps blocks it no longer needs; give them back once empty.
    if (m_records.empty())
        std::deque<TrafficRecord>().swap(m_records);
}

std::string formatTimestamp(std::int64_t usec)
{
    const std::time_t secs = std::time_t(usec / 1000000);
    const long micro = long(usec % 1000000);
    std::tm tm{};
    localtime_r(&secs, &tm);
    char buf[48];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d.%06ld", tm.tm_year + 1900,
                  tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, micro);
    return buf;
}

const char* directionName(TrafficDirection d)
{
    return d == TrafficDirection::ToTcp ? "serial>tcp" : "tcp>serial";
}

std::string formatHeader(const TrafficRecord& r)
{
    std::string line = formatTimestamp(r.usec) + "  " + directionName(r.direction) + "  " + r.client +
                       "  " + std::to_string(r.size) + (r.size == 1 ? " byte" : " bytes");
    if (r.bytes.size() < r.size)
        line += ", first " + std::to_string(r.bytes.size()) + " kept";
    return line;
}

std::string hexDump(const std::string& bytes)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    out.reserve((bytes.size() / 16 + 1) * 76);
    for (std::size_t at = 0; at < bytes.size(); at += 16) {
        char offset[24];
        std::snprintf(offset, sizeof offset, "  %04zx  ", at);
        out += offset;
        const std::size_t n = std::min<std::size_t>(16, bytes.size() - at);
        for (std::size_t i = 0; i < 16; ++i) {
            if (i == 8)
                out += ' ';
            if (i < n) {
                const auto b = static_cast<unsigned char>(bytes[at + i]);
                out += digits[b >> 4];
                out += digits[b & 15];
                out += ' ';
            } else {
                out += "   ";
            }
        }
        out += ' ';
        for (std::size_t i = 0; i < n; ++i) {
            const auto b = static_cast<unsigned char>(bytes[at + i]);
            out += b >= 0x20 && b < 0x7f ? char(b) : '.';
        }
        out += '\n';
    }
    return out;
}

std::string formatRecord(const TrafficRecord& r)
{
    return formatHeader(r) + "\n" + hexDump(r.bytes);
}

}  // namespace lintrel
